"""The analyser on camera-model photos whose truth is known."""

import unittest
from unittest import mock

import cv2
import numpy as np

from camera import photograph

from tests.analyser.scenes import camera, wall
from analyser import locate, photo_io, timing
from analyser import photo as photo_module
from analyser.bars import SEARCH_PX
from analyser.pattern import BAR
from analyser.photo import analyse, read_window

MOMENT_MS = 3456.7  # on the way down, well away from the turns of the sweep


def take(displays, moment=MOMENT_MS, **settings):
    data, _, truths = photograph(displays, camera(**settings), moment)
    return photo_io.decode(data), {t.name: t for t in truths}


class Photos(unittest.TestCase):
    def test_verdicts_and_figures_follow_the_truth(self):
        cases = [
            ("in step", wall(2), {}, True),
            ("one frame behind", wall(2, **{"1": {"lag_frames": 1.0}}), {}, False),
            ("no genlock", wall(2, **{"1": {"phase_ms": 12.0}}), {}, False),
            ("a tearing window", wall(2, **{"0": {"swap_interval_ms": 6.0, "mode": "N"}}), {},
             False),
            ("three in step, seen at an angle", wall(3, (1920, 1080)),
             {"yaw_deg": -20, "jpeg_quality": 70, "photo_size": (2400, 1400)},
             True),
            # Its display blanking, one tear of 0.7 of a refresh: the boundary, read short, or
            # a tear, a single break cannot say.
            ("a lone tear of most of a refresh", wall(1, **{"0": {
                "swap_interval_ms": 11.8, "mode": "N", "phase_ms": 7.07}}), {}, None),
        ]
        for name, displays, settings, in_sync in cases:
            with self.subTest(name):
                photo, truths = take(displays, **settings)
                result = analyse(photo, [d.group for d in displays])
                self.assertEqual(result.in_sync, in_sync, result.reasons)
                self.assertEqual(sorted(w.name for w in result.windows), sorted(truths))
                tearing = {d.name for d in displays if d.swap_interval_ms}
                for window in result.windows:
                    truth = truths[window.name]
                    if not tearing:  # a tearing window's rows show frames of many moments
                        self.assertAlmostEqual(window.lag_frames, truth.lag_frames, delta=0.25)
                    if window.scan is not None and any(b[1] == "scan" for b in truth.breaks):
                        difference = abs(window.scan - truth.scan) % 1.0
                        self.assertLessEqual(min(difference, 1 - difference), 0.1)
                    self.assertLess(np.abs(window.corners - truth.corners).max(), 3.0)
                    truth_tears = [b for b in truth.breaks if b[1] == "tear"]
                    if in_sync is not None:
                        self.assertEqual(bool(window.tears), bool(truth_tears), window.breaks)

    def test_rolling_shutter_is_taken_out_when_its_readout_is_given(self):
        displays = [wall(1)[0], wall(1)[0]]
        displays[1].y = 720  # one above the other, refreshing in step
        photo, truths = take(displays, readout_ms=25.0, photo_size=(1200, 1400))
        groups = [d.group for d in displays]
        plain = analyse(photo, groups)
        corrected = analyse(photo, groups, readout_ms=25.0)
        self.assertTrue(any("readout" in w for w in plain.warnings))
        self.assertEqual(corrected.judgement.faults, [])
        for window in corrected.windows:
            self.assertAlmostEqual(window.lag_frames, truths[window.name].lag_frames, delta=0.25)
        # The lower display was blanking when the camera read it: whether the two refresh in
        # step is more than this photo shows.
        self.assertEqual(truths["0,720"].breaks, [])
        self.assertEqual(corrected.verdict, "cannot tell")

    def test_a_readout_slower_than_the_scan_turns_the_boundary_round(self):
        # Read over 40 ms, the windows' rows take longer to read than a refresh takes to scan:
        # the boundary then shows the newer frame below, and is no tear.
        displays = wall(2, **{"1": {"lag_frames": 1.0}})
        photo, truths = take(displays, readout_ms=40.0, photo_size=(1600, 700))
        result = analyse(photo, [d.group for d in displays], readout_ms=40.0)
        self.assertFalse(any(w.newer_above for w in result.windows))
        self.assertEqual([w.tears for w in result.windows], [[], []])
        for window in result.windows:
            self.assertAlmostEqual(window.lag_frames, truths[window.name].lag_frames, delta=0.25)

    def test_without_groups_windows_are_numbered_in_reading_order(self):
        displays = wall(2, **{"1": {"lag_frames": 2.0}})
        photo, truths = take(displays)
        result = analyse(photo)
        self.assertEqual([w.name for w in result.windows], ["1", "2"])
        self.assertTrue(all(w.size_estimated for w in result.windows))
        self.assertAlmostEqual(result.windows[1].lag_frames, 2.0, delta=0.3)

    def test_a_side_whose_frame_line_does_not_show_widens_the_doubt_of_its_lag(self):
        displays = wall(2, **{"1": {"lag_frames": 1.0}})
        photo, truths = take(displays)
        groups = [d.group for d in displays]
        before = {w.name: w for w in analyse(photo, groups).windows}["1280,0"]
        corners = truths["1280,0"].corners
        inside = tuple(int(v) for v in (corners[1] * 0.95 + corners[3] * 0.05))
        black = tuple(int(c) for c in photo[inside[1], inside[0]])
        cv2.line(photo, tuple(int(v) for v in corners[1]), tuple(int(v) for v in corners[2]),
                 black, 3)
        after = {w.name: w for w in analyse(photo, groups).windows}["1280,0"]
        self.assertEqual((before.sides_traced, after.sides_traced),
                         ((True,) * 4, (True, False, True, True)))
        self.assertGreater(after.lag_doubt_ms, 2 * before.lag_doubt_ms)

    def test_changes_that_may_be_tears_leave_the_tears_unsettled(self):
        # Changes of content that may be tears but are not known to be (camera-model photos
        # show them too rarely to pick one): ones that run into the window's top or bottom
        # through rows that blend two frames, of a size not known; and a step the scan-out
        # boundary's way beside it, as an exposure blurs the boundary into two.
        displays = wall(1)
        result = analyse(take(displays)[0], [d.group for d in displays])
        self.assertEqual(result.verdict, "in sync", result.reasons)
        cases = [
            ("run into the edges", [
                timing.Break(3, 25, 2.0, 30, 0.04, kind="unsure", cut=True),
                timing.Break(110, 690, -2.0, 30, 0.04, kind="unsure", cut=True)],
             "each may be a tear"),
            ("the boundary in two steps", [
                timing.Break(40, 250, 2.0, 8, 0.01, jump_f=0.0034, kind="scan"),
                timing.Break(45, 280, 0.6, 12, 0.015, jump_f=0.0008, kind="unsure",
                             boundary_way=True)],
             "a tear may hide in them"),
        ]
        for name, breaks, said in cases:
            with self.subTest(name):
                result.windows[0].reading.breaks[:] = breaks
                photo_module._judge(result)
                self.assertEqual(result.verdict, "cannot tell")
                self.assertEqual([said in u.what for u in result.judgement.unsettled], [True])

    def test_a_faint_pattern_is_looked_for_where_it_stands_out_and_noise_is_not(self):
        rng = np.random.default_rng(4)
        for name, noise, bar, expected in [("washed out by glare, a quiet photo", 1.0, 30, True),
                                           ("bright", 6.0, 120, True),
                                           ("sensor noise alone", 8.0, 0, False),
                                           ("faint in a noisy photo", 8.0, 30, False)]:
            with self.subTest(name):
                green = np.abs(rng.normal(0, noise, (600, 800))).astype(np.float32)
                green[:, 300:304] = np.maximum(green[:, 300:304], bar)
                self.assertEqual(locate.shows_pattern(green), expected)

    def test_a_green_patch_is_not_taken_for_a_window(self):
        photo, _ = take(wall(1))
        cv2.rectangle(photo, (40, 40), (200, 160), (40, 220, 60), -1)
        self.assertEqual(len(analyse(photo).windows), 1)


class AtATurnOfTheSweep(unittest.TestCase):
    def test_windows_are_found_and_nothing_is_judged_from_folded_bars(self):
        # Within a few refreshes of a turn each bar lies on or near one of its window's frame
        # lines, and content frames apart may stand either side of the turn, at one place.
        walls = [("in step", wall(2)), ("one frame behind", wall(2, **{"1": {"lag_frames": 1.0}}))]
        for moment in (5040.0, 5060.0, 10030.0):
            for name, displays in walls:
                with self.subTest(name, moment=moment):
                    photo, _ = take(displays, moment)
                    groups = [d.group for d in displays]
                    self.assertEqual(len(locate.find_windows(photo, groups)[0]), 2)
                    result = analyse(photo, groups)
                    self.assertEqual(result.verdict, "cannot tell", result.reasons)
                    self.assertIn("turn of the sweep", " ".join(
                        u.what for u in result.judgement.unsettled))


class ASideTracedOntoABar(unittest.TestCase):
    def test_a_top_or_bottom_side_on_the_horizontal_bar_is_moved_past_it(self):
        displays = wall(1, (1920, 1080))
        group, width, height = displays[0].group, 1920, 1080
        # Near a turn of the sweep a bar runs a few percent of the window from a side, where a
        # search may take it for that side when the frame line beside it is faint.
        cases = [("top", 400.0, height - 0.92 * (height - 9) - 5),
                 ("bottom", 4600.0, height - 0.08 * (height - 9) - 5)]
        for name, moment, bar_at in cases:
            with self.subTest(name):
                photo, truths = take(displays, moment)
                corners = truths["0,0"].corners
                to_photo = cv2.getPerspectiveTransform(
                    np.float32(locate.frame_points(width, height, (False,) * 4)),
                    np.float32(corners))
                inner = np.array([[0, 0], [width, 0], [width, height], [0, height]], float)
                inner[[0, 1] if bar_at < height / 2 else [2, 3], 1] = bar_at
                outline = locate.Outline(cv2.perspectiveTransform(
                    np.float32(inner)[None], to_photo)[0].astype(float))
                lines = locate.line_greenness(photo)
                brightness = cv2.cvtColor(photo, cv2.COLOR_BGR2GRAY).astype(np.float32)
                errors = [np.abs(read_window(lines, brightness, outline, "0,0", group,
                                             past_bars=past).corners - corners).max()
                          for past in (False, True)]
                self.assertGreater(errors[0], 10.0)
                self.assertLess(errors[1], 1.0)


class WallsUnlikeOurs(unittest.TestCase):
    """Walls of narrow-bezel panels: frame lines of neighbours abutting or a few pixels apart,
    blacks glowing grey, a reflection across several panels."""

    def test_every_window_is_traced_and_judged(self):
        grid = wall(2) + wall(2)
        for display in grid[2:]:
            display.y = 720
        cases = [
            ("abutting, one a frame behind", wall(3, **{"1": {"lag_frames": 1.0}}),
             {"bezel": 0.0}, "not in sync"),
            ("abutting on grey black", wall(3), {"bezel": 0.0, "black_level": 0.3, "seed": 5},
             "in sync"),
            ("grey black, one a frame behind", wall(3, **{"2": {"lag_frames": 1.0}}),
             {"bezel": 0.0, "black_level": 0.3}, "not in sync"),
            ("a reflection across three, bezels a few pixels wide", wall(3),
             {"bezel": 8.0, "glare_band": 0.5}, "in sync"),
            ("two by two abutting on grey black", grid,
             {"bezel": 0.0, "black_level": 0.25, "photo_size": (1800, 1200)}, "in sync"),
            # Neighbours' frame lines a narrow bezel apart, blurred into one ridge centred on
            # the bezel, not on either window's edge.
            ("bezels 2.4 pixels wide, one a frame behind",
             wall(3, (1920, 1080), **{"1": {"lag_frames": 1.0}}),
             {"bezel": 2.4, "photo_size": (4000, 1600), "yaw_deg": 8, "blur_px": 1.0},
             "not in sync"),
            ("bezels 6 pixels wide", wall(3, (1920, 1080)),
             {"bezel": 6.0, "photo_size": (2400, 1000), "yaw_deg": 8, "blur_px": 1.0},
             "in sync"),
            # The camera's sharpening rings in red and blue beside a thin green line.
            ("three of 500 photo pixels, sharpened, a coarse JPEG", wall(3, (1920, 1080)),
             {"photo_size": (1600, 900), "blur_px": 0.5, "sharpen": 1.2, "jpeg_quality": 65},
             "in sync"),
        ]
        for name, displays, settings, answer in cases:
            with self.subTest(name):
                photo, truths = take(displays, **settings)
                result = analyse(photo, [d.group for d in displays])
                self.assertEqual(result.verdict, answer, result.reasons)
                self.assertEqual(sorted(w.name for w in result.windows), sorted(truths))
                for window in result.windows:
                    truth = truths[window.name]
                    self.assertLess(np.abs(window.corners - truth.corners).max(), 1.0)
                    self.assertAlmostEqual(window.lag_frames, truth.lag_frames, delta=0.25)

    def test_windows_not_found_are_read_where_their_neighbours_put_them(self):
        grid = wall(2, (1920, 1080)) + wall(2, (1920, 1080), **{"1": {"lag_frames": 1.0}})
        for display in grid[2:]:
            display.y = 1080
        cases = [
            # name, displays, bezel, windows found: the bezel is measured between two of them
            ("the middle of a row", wall(3, **{"1": {"lag_frames": 1.0}}), 20.0,
             ["0,0", "2560,0"]),
            # or, with one found alone, tried at widths in turn
            ("three of two by two, wide bezels", grid, 110.0, ["0,0"]),
            # a column found: which of the groups' columns it is, only the reading tells
            ("the right column of two by two", grid, 20.0, ["1920,0", "1920,1080"]),
        ]
        for name, displays, bezel, kept in cases:
            with self.subTest(name):
                photo, truths = take(displays, bezel=bezel, photo_size=(2000, 1300))
                result = self.analysed_finding_only(photo, displays, [truths[k] for k in kept])
                for window in result.windows:
                    self.assertLess(np.abs(window.corners - truths[window.name].corners).max(),
                                    1.0)
                self.assertEqual(sorted(w.name for w in result.windows), sorted(truths))
                self.assertEqual(result.missing, [])
                self.assertEqual(result.verdict, "not in sync", result.reasons)

    @staticmethod
    def analysed_finding_only(photo, displays, truths):
        """The photo analysed with only the windows of truths found where windows are looked
        for, as when the others' frame lines are lost in glare."""
        found = locate.find_windows
        centres = [t.corners.mean(axis=0) for t in truths]

        def only_those(*args):
            outlines, green, small = found(*args)
            return [o for o in outlines if min(np.linalg.norm(o[0].corners.mean(axis=0) - c)
                                               for c in centres) < 50], green, small

        with mock.patch.object(locate, "find_windows", only_those):
            return analyse(photo, [d.group for d in displays])


class ReadingInABand(unittest.TestCase):
    def test_a_band_about_the_bar_reads_as_the_whole_width_and_a_wrong_one_falls_back(self):
        photo, truths = take(wall(2))
        green = locate.greenness(photo)
        brightness = cv2.cvtColor(photo, cv2.COLOR_BGR2GRAY).astype(np.float32)
        outline = locate.Outline(truths["0,0"].corners)
        group = wall(2)[0].group
        with mock.patch.object(photo_module, "SPARSE_BAR_SAMPLES", np.inf):
            whole = read_window(green, brightness, outline, "0,0", group)
        bar = np.nanmedian(whole.vertical.offset)
        for name, band in (("found on a sparse grid", None),
                           ("about the bar", (bar - 80, bar + 90)),
                           ("beyond the window's left", (-200, bar + 60)),
                           ("where the bar is not", (bar + 200, bar + 400))):
            with self.subTest(name):
                banded = read_window(green, brightness, outline, "0,0", group, band=band)
                np.testing.assert_allclose(banded.vertical.offset, whole.vertical.offset,
                                           atol=0.05)
                self.assertAlmostEqual(banded.horizontal.offset, whole.horizontal.offset)
                self.assertEqual([b.row for b in banded.breaks], [b.row for b in whole.breaks])

    def test_the_band_found_on_a_sparse_grid_holds_the_bar_clear_of_its_ends(self):
        width, clear = 1920, SEARCH_PX / 2
        for per_pixel, step, bar_u in ((1.0, 4, 700.0), (0.8, 4, 12.0), (2.0, 4, 1890.0),
                                       (1.3, 2, 333.0)):
            with self.subTest(per_pixel=per_pixel, step=step, bar_u=bar_u):
                u = (np.arange(int(width * per_pixel)) + 0.5) / per_pixel
                lit = ((u >= bar_u) & (u < bar_u + BAR)).astype(np.float32)
                grid = np.tile(lit, (40, 1)) + np.float32(0.05)
                low, high = photo_module._band_about_bar(grid[:, ::step], per_pixel, step)
                self.assertLessEqual(low, bar_u - clear)
                self.assertGreaterEqual(high, bar_u + BAR + clear)
                self.assertLess(high - low, 4 * SEARCH_PX)
