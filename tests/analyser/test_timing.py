import unittest

import cv2
import numpy as np

from analyser import timing
from analyser.pattern import SWEEP_PER_MS, bar_offset, sweep, sweep_from_offset


def column(levels, rows=400, noise=0.05, seed=0):
    """Per-row bar offsets: levels is a list of (first row, offset)."""
    offsets = np.zeros(rows)
    for start, value in levels:
        offsets[start:] = value
    return offsets + np.random.default_rng(seed).normal(0, noise, rows)


class Breaks(unittest.TestCase):
    def test_breaks_are_found_where_the_offset_jumps_and_nowhere_else(self):
        cases = [
            ("no break, only noise", [(0, 300.0)], []),
            ("scan-out boundary", [(0, 306.0), (150, 300.0)], [(150, 6.0)]),
            ("small tear", [(0, 300.0), (100, 301.5)], [(100, -1.5)]),
            ("boundary and two tears", [(0, 300.0), (80, 302.0), (200, 296.0), (300, 298.0)],
             [(80, -2.0), (200, 6.0), (300, -2.0)]),
        ]
        v = np.arange(400) + 0.5
        for name, levels, expected in cases:
            with self.subTest(name):
                found, _ = timing.find_breaks(column(levels), v, 400)
                self.assertEqual(len(found), len(expected), found)
                for got, (row, jump) in zip(found, expected):
                    self.assertLessEqual(abs(got.row - row), 3)
                    self.assertAlmostEqual(got.jump_px, jump, delta=0.3)

    def test_a_reading_that_wanders_over_many_rows_breaks_only_where_it_jumps(self):
        # A thin bar washed by glare: its reading drifts by a pixel or two over tens of rows,
        # while neighbouring rows differ by far less.
        v = np.arange(400) + 0.5
        for seed in range(4):
            rng = np.random.default_rng(seed)
            drift = cv2.GaussianBlur(rng.normal(0, 1, (400, 1)), (0, 0), 12)[:, 0]
            wandering = 300 + drift / drift.std() + rng.normal(0, 0.05, 400)
            with self.subTest(seed=seed):
                self.assertEqual(timing.find_breaks(wandering, v, 400)[0], [])
                stepped = wandering - 8.0 * (v > 200)
                found = [b for b in timing.find_breaks(stepped, v, 400)[0]
                         if abs(b.row - 200) <= 3]
                self.assertEqual(len(found), 1)
                self.assertAlmostEqual(found[0].jump_px, 8.0, delta=1.5)

    def test_unread_rows_do_not_break_the_column(self):
        offsets = column([(0, 300.0)])
        offsets[120:140] = np.nan
        found, _ = timing.find_breaks(offsets, np.arange(400) + 0.5, 400)
        self.assertEqual(found, [])

    def test_smeared_and_tilted_changes_keep_their_size(self):
        """A change smeared over more rows than the finest scale spans, near the top; a step on
        a bar tilted by an outline a little off (the stretches' means differ by less than the
        step); and a step whose rows up to the window's edge show a wider bar (two frames
        blended), which is no tear whatever its size."""
        rows = np.arange(768)
        width = 1024
        cases = [
            ("smeared over 45 rows near the top",
             793.2 - 4.1 * np.clip((rows - 45) / 45, 0, 1), None, 4.1, False),
            ("a step on a tilted bar", 290.0 - 0.016 * rows - 9.0 * (rows >= 540), None, 9.0,
             False),
            ("a step against the tilt", 290.0 - 0.016 * rows + 9.0 * (rows >= 540), None, -9.0,
             False),
            ("the rows below blend two frames", 500.0 - 1.5 * (rows >= 700),
             np.where(rows >= 700, 14.5, 11.0), 1.5, True),
            ("the same step, its rows clean", 500.0 - 1.5 * (rows >= 700),
             np.full(768, 11.0), 1.5, False),
        ]
        for name, offsets, widths, jump, cut in cases:
            with self.subTest(name):
                noisy = offsets + np.random.default_rng(1).normal(0, 0.03, len(rows))
                found, noise = timing.find_breaks(noisy, rows + 0.5, len(rows))
                self.assertEqual(len(found), 1, found)
                self.assertAlmostEqual(found[0].jump_px, jump, delta=0.5)
                timing.mark_blends_at_edges(found, np.full(768, 11.0) if widths is None
                                            else widths)
                reading = timing.WindowReading(
                    timing.read_segments(noisy, found, width, noise), found, noise)
                timing.set_jumps(reading, noisy, width)
                self.assertAlmostEqual(found[0].jump_f * (width - 9), jump, delta=0.35)
                self.assertEqual(found[0].cut, cut)
                # The sweep running so that the newer frame is below: not a boundary.
                timing.classify_breaks(found, -int(np.sign(found[0].jump_f)), 1000 / 60)
                self.assertEqual(found[0].kind, "unsure" if cut else "tear")


class Direction(unittest.TestCase):
    def breaks(self, *jumps):
        return [timing.Break(i, i, 0.0, 0, 0.0, jump_f=j) for i, j in enumerate(jumps)]

    def test_the_odd_break_is_the_boundary_and_the_others_tears(self):
        cases = [
            ("one break: the boundary, newer above", (0.0033,), 1),
            ("one break, bars moving the other way", (-0.0033,), -1),
            ("boundary against two tears", (-0.001, 0.003, -0.001), 1),
            ("only tears, scan in blanking", (0.001, 0.001), -1),
        ]
        for name, jumps, direction in cases:
            with self.subTest(name):
                self.assertEqual(timing.direction_vote(self.breaks(*jumps), 1000 / 60)[0],
                                 direction)
        weights = [timing.direction_vote(self.breaks(jump), 1000 / 60)[1]
                   for jump in (0.0033, 0.0007)]
        self.assertGreater(weights[0], weights[1], "a refresh's jump is likelier the boundary")
        kinds = [
            ("boundary against two tears", (-0.001, 0.003, -0.001), ["tear", "scan", "tear"]),
            # content older below twice: the boundary blurred into two steps, not a tear
            ("boundary in two steps", (0.0025, 0.0008), ["scan", "unsure"]),
            ("a step the boundary's way and a tear", (0.0008, -0.001, 0.0025),
             ["unsure", "tear", "scan"]),
        ]
        for name, jumps, expected in kinds:
            with self.subTest(name):
                breaks = self.breaks(*jumps)
                boundary = timing.classify_breaks(breaks, 1, 1000 / 60)
                self.assertIs(boundary, breaks[expected.index("scan")])
                self.assertEqual([b.kind for b in breaks], expected)
        lone = self.breaks(0.0012)  # a fifth of a refresh: only a swap during scan-out does that
        self.assertIsNone(timing.classify_breaks(lone, 0, 1000 / 60))
        self.assertEqual(lone[0].kind, "tear")

    def test_a_boundary_smeared_into_a_ramp_is_told_from_tears(self):
        frame_px = 3.4
        rows = np.arange(400)
        ramp = 370.0 - frame_px * np.clip((rows - 150) / 200, 0, 1)
        ramp[250:] -= 0.8  # the step left where the smear is steepest
        steps = 370.0 - frame_px * (rows >= 100) / 3 - frame_px * (rows >= 200) / 3 - (
            frame_px * (rows >= 300) / 3)
        cases = [
            ("a ramp of a refresh, one small step", ramp, [0.8], True),
            ("three tears make the refresh", steps, [frame_px / 3] * 3, False),
            ("a ramp of two refreshes", 370.0 - 2 * (370.0 - ramp), [1.6], False),
            ("no break at all", ramp, [], False),
        ]
        for name, offsets, jumps, smeared in cases:
            with self.subTest(name):
                breaks = [timing.Break(i, i, jump, 0, 0.0) for i, jump in enumerate(jumps)]
                self.assertEqual(timing.smeared_into_ramp(offsets, breaks, frame_px), smeared)


class Lead(unittest.TestCase):
    def window_rows(self, scan, lag_ms, refresh_ms=1000 / 60, rows=600, moment=3210.0):
        """Sweep positions per row of a vsync'd display caught at scan position scan, whose
        frames are drawn lag_ms before their refresh, and the boundary row."""
        began = moment - scan * refresh_ms
        fraction = (np.arange(rows) + 0.5) / rows
        shown = np.where(fraction < scan, began, began - refresh_ms) - lag_ms
        return sweep(shown), scan

    def lead(self, f_rows, scan, direction=1):
        read = np.zeros(len(f_rows))
        return timing.content_lead_ms(f_rows, direction, read, scan, 0.0, 1000 / 60)[0]

    def test_lead_does_not_depend_on_the_scan_position_and_shows_the_lag(self):
        # 3210 ms is on the way down (f falling): direction -1.
        leads = {}
        for scan in (0.1, 0.5, 0.9):
            for lag in (0.0, 1000 / 60):
                f_rows, boundary = self.window_rows(scan, lag)
                leads[scan, lag] = self.lead(f_rows, boundary, direction=-1)
        for scan in (0.1, 0.5, 0.9):
            self.assertAlmostEqual(leads[scan, 0.0], leads[0.1, 0.0], delta=0.01)
            self.assertAlmostEqual(leads[scan, 0.0] - leads[scan, 1000 / 60], 1000 / 60,
                                   delta=0.01)

    def test_a_refresh_start_no_boundary_shows_is_bounded_by_the_rows_read(self):
        # A display of 1/60 s refreshes, blanking 4 %, shown whole in a window whose rows the
        # camera read over readout ms: every start that leaves the boundary out of the rows
        # must lie within the moments given, and the lead be off by no more than its doubt.
        refresh, rows, moment = 1000 / 60, 600, 3210.0
        fraction = (np.arange(rows) + 0.5) / rows
        scan = fraction * refresh * (1 - timing.BLANKING_SHARE)
        for readout, share in ((0.0, 0.01), (0.0, 0.99), (6.0, 0.05), (6.0, 0.95),
                               (25.0, 0.5)):
            read = moment + readout * fraction
            since = read - scan
            # The starts that keep every row in one refresh, and one of them.
            low, high = since.max() - refresh, since.min()
            began = low + share * (high - low)
            with self.subTest(readout=readout, share=share):
                f_rows = sweep(np.full(rows, began - 4.0))  # drawn 4 ms before it began
                lead, doubt = timing.content_lead_ms(f_rows, -1, read, None, None, refresh)
                earliest, latest = timing.unseen_refresh_start(read, fraction, refresh)
                self.assertLessEqual(earliest, began + 1e-9)
                self.assertGreaterEqual(latest, began - 1e-9)
                self.assertAlmostEqual(doubt, (latest - earliest) / 2)
                # The moments span a refresh less the rows' spread in scan-out and reading.
                spread = abs(readout - refresh * (1 - timing.BLANKING_SHARE))
                self.assertAlmostEqual(doubt, (refresh - spread) / 2, delta=0.05)
                truth = -f_rows[0] / SWEEP_PER_MS - began
                self.assertLessEqual(abs(lead - truth), doubt + 1e-6)

    def test_sweep_positions_round_trip_through_truncated_offsets(self):
        f = np.linspace(0.01, 0.99, 50)
        for size in (640, 1920):
            error = np.abs(sweep_from_offset(bar_offset(f, size), size) - f)
            self.assertLessEqual(error.max(), 0.5 / (size - 9) + 1e-12)
        self.assertAlmostEqual(SWEEP_PER_MS * 5000, 1.0)

    def test_scan_positions_wrap_round_a_refresh(self):
        self.assertAlmostEqual(timing.circular_spread([0.95, 0.02]), 0.07)
        self.assertAlmostEqual(timing.circular_spread([0.2, 0.5, 0.7]), 0.5)
        self.assertAlmostEqual(timing.scan_position(0.5, 8.0, 0.0, 16.0), 0.0)


class UnseenBoundary(unittest.TestCase):
    def test_spread_bounds_over_positions_known_and_on_arcs(self):
        cases = [
            # points, arcs (start, length), least, most
            ("points only", [0.95, 0.02], [], 0.07, 0.07),
            ("arc reaching a point", [0.10], [(0.97, 0.06)], 0.07, 0.13),
            ("arc round the turn, far from a point", [0.5], [(0.97, 0.06)], 0.47, 0.53),
            ("point within an arc", [0.01], [(0.97, 0.06)], 0.0, 0.06),
            ("two arcs that overlap", [], [(0.9, 0.15), (0.0, 0.1)], 0.0, 0.2),
            ("two arcs apart", [], [(0.1, 0.05), (0.4, 0.05)], 0.25, 0.35),
        ]
        for name, points, arcs, least, most in cases:
            with self.subTest(name):
                got = timing.spread_bounds(points, arcs)
                self.assertAlmostEqual(got[0], least, delta=1e-6)
                self.assertAlmostEqual(got[1], most, delta=0.006)

    def test_an_unseen_boundary_leaves_the_positions_no_row_read_would_show(self):
        # Rows from 3 % to 97 % of a window's height, read by a global shutter or over
        # readout ms: a scan position at the reference moment lies on the arc left exactly
        # when no row shows the boundary at the moment it was read (the scan then stood at the
        # position plus the time since, in refreshes).
        refresh, fractions = 1000 / 60, np.linspace(0.03, 0.97, 300)
        step = fractions[1] - fractions[0]
        positions = np.linspace(0, 1, 997, endpoint=False)

        def apart(x):
            return np.minimum(np.mod(positions - x, 1.0), np.mod(x - positions, 1.0))
        for readout in (0.0, 6.0, 20.0):
            read = readout * fractions
            with self.subTest(readout=readout):
                arc = timing.unseen_scan_arc(fractions, read, 0.0, refresh)
                at_read = np.mod(positions[:, None] + read[None, :] / refresh, 1.0)
                shows = (np.abs(at_read - fractions[None, :]) < step).any(axis=1)
                on_arc = np.mod(positions - arc[0], 1.0) <= arc[1]
                clear = (apart(arc[0]) > 2 * step) & (apart(arc[0] + arc[1]) > 2 * step)
                np.testing.assert_array_equal(on_arc[clear], ~shows[clear])
        # A camera reading the rows upwards while the display scans them down meets the
        # boundary whatever the position: none is left.
        for read in (-4.0 * fractions, 20.0 - 20.0 * fractions):
            self.assertIsNone(timing.unseen_scan_arc(fractions, read, 0.0, refresh))

    def test_rows_show_one_frame_only_where_no_stretch_stands_apart(self):
        frame_px, rows = 6.0, 400
        v = np.arange(rows)
        tilt = 300 + 2.0 * v / rows
        # (name, offsets, the rows at either end that may be left out, None: a boundary shows)
        cases = [
            ("one frame, tilted by an outline a little off", column([(0, 300.0)]) + tilt - 300,
             (0.03, 0.03)),
            ("a boundary", column([(0, 306.0), (150, 300.0)]), None),
            ("a boundary smeared over a third of the rows",
             column([(0, 306.0)]) - np.clip((v - 100) / 130, 0, 1) * frame_px, None),
            ("a boundary undone by two tears", column(
                [(0, 300.0), (100, 302.5), (200, 296.5), (300, 299.5)]), None),
            ("a tilt of 0.6 of a refresh", column([(0, 300.0)]) + 0.6 * frame_px * v / rows,
             None),
            ("a boundary smeared over the first 6 % of the rows",
             column([(0, 300.0)]) + np.clip(1 - v / 24, 0, 1) * frame_px, (0.1, 0.03)),
            ("a boundary at the last 5 % of the rows", column([(0, 300.0), (380, 294.0)]),
             (0.03, 0.1)),
            ("a boundary at 15 % of the rows", column([(0, 306.0), (60, 300.0)]), None),
        ]
        for name, offsets, left_out in cases:
            with self.subTest(name):
                found = timing.rows_without_boundary(offsets, frame_px)
                self.assertEqual(found is not None, left_out is not None)
                if left_out is not None:
                    self.assertLess(found[0], left_out[0] * rows)
                    self.assertGreater(found[1], (1 - left_out[1]) * rows)
