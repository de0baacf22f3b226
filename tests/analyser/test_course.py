"""The course of a window over a video, from figures made exactly: the tool's clock, the refresh
timeline, the camera's readout, stutters and slips."""

import unittest

import numpy as np

from analyser import course, video
from analyser.pattern import sweep

REFRESH = 1000 / 60


class Clock(unittest.TestCase):
    def test_the_tools_clock_is_found_through_the_turns_of_the_sweep(self):
        for offset in (0.0, 1234.5, 9990.0):
            with self.subTest(offset=offset):
                moments = np.arange(0, 12000, 1000 / 30)
                shown = moments + offset - 20.0  # a presentation lag of 20 ms
                found = course.clock_offset_ms(moments, sweep(shown))
                self.assertAlmostEqual(course.wrapped(found - offset + 20.0, 10000), 0,
                                       delta=2.0)
                contents = course.content_times(moments, sweep(shown), found)
                # Content times are the tool's clock up to whole sweep periods.
                self.assertLess(np.max(np.abs(course.wrapped(contents - shown, 10000))), 1.0)


class Timelines(unittest.TestCase):
    def test_period_and_phase_changes_are_found_from_rough_boundaries(self):
        rng = np.random.default_rng(1)
        for period, jump, guess in ((16.683, 0.0, 15.6), (20.0, 0.4, 21.5),
                                    (13.333, 0.25, 12.5)):
            with self.subTest(period=period, jump=jump):
                moments = np.sort(rng.uniform(0, 5000, 300))
                change = 2600.0
                phase = np.where(moments < change, 3.0, 3.0 + jump * period)
                starts = phase + np.floor((moments - phase) / period) * period
                starts += rng.normal(0, 0.1, len(starts))
                timeline = course.fit_timeline(starts, guess)
                self.assertAlmostEqual(timeline.refresh_ms, period, delta=0.002)
                self.assertEqual(len(timeline.phases), 2 if jump else 1)
                scan = np.mod((moments - phase) / period, 1.0)
                error = course.wrapped(timeline.scan(moments) - scan, 1.0)
                self.assertLess(np.percentile(np.abs(error), 95), 0.02)
        # Jumps misread from noise at moments of no refresh in particular fit no timeline.
        self.assertIsNone(course.fit_timeline(np.sort(rng.uniform(0, 5000, 60)), 16.7))

    def test_readout_is_read_from_the_boundary_moving_within_one_refresh(self):
        # A camera reads its frame out within one frame's time.
        for readout, camera_fps in ((3.0, 240.0), (0.0, 240.0), (2.0, 120.0)):
            with self.subTest(readout=readout, fps=camera_fps):
                moments = np.arange(0, 3000, 1000 / camera_fps)
                period = 1000 / 59.94  # drifts against a 60 fps camera
                starts = np.floor(moments / period) * period
                rows = (moments - starts) / (period * course.SCAN_SHARE - readout)
                seen = rows < 1
                found = course.readout_of_window_ms(moments[seen], rows[seen], starts[seen],
                                                    period)
                self.assertAlmostEqual(found, readout, delta=0.2)
        locked = np.arange(0, 2000, REFRESH)
        self.assertIsNone(course.readout_of_window_ms(locked, np.full(len(locked), 0.3),
                                                      locked, REFRESH))

    def test_readout_is_read_from_boundaries_at_several_rows_lining_up(self):
        # (readout ms, camera fps, display Hz, whether it can be read): a 60 fps camera never
        # sees one 75 Hz refresh twice, but sees its boundary at three or four rows in turn, a
        # 30 fps one at two; a camera nearly in step with its display sees the boundary creep
        # through the rows, where a readout and a period move the refresh starts alike.
        cases = [(4.0, 60.0, 75.0, True), (2.0, 60.0, 75.0, True), (0.0, 60.0, 75.0, True),
                 (3.0, 30.0, 75.0, True), (8.0, 60.0, 60.06, False)]
        rng = np.random.default_rng(4)
        for readout, camera_fps, display_hz, readable in cases:
            with self.subTest(readout=readout, fps=camera_fps, hz=display_hz):
                period = 1000 / display_hz
                moments = np.arange(0, 5000, 1000 / camera_fps)
                starts = np.floor((moments - 12.3) / period) * period + 12.3
                rows = (moments - starts) / (period * course.SCAN_SHARE - readout)
                seen = rows < 0.95
                rows = rows[seen] + rng.normal(0, 0.003, np.count_nonzero(seen))
                found = course.readout_lining_up(moments[seen], rows, 1000 / 75, 16.0)
                if readable:
                    self.assertAlmostEqual(found, readout, delta=0.4)
                else:
                    self.assertIsNone(found)

    def test_a_timeline_is_in_doubt_where_boundaries_creep_and_the_readout_is_not_known(self):
        rng = np.random.default_rng(2)
        frames = np.arange(0, 20000, 1000 / 30)  # a 20-s video at 30 fps
        timeline = course.Timeline(1000 / 59.94, [(-np.inf, 3.0)])
        cluster = frames[(frames > 7000) & (frames < 9000)]
        spread = frames[::4]
        # (boundaries read, their rows, whether the period is in doubt): a display nearly in
        # step with the camera shows its boundary creeping through the rows for two seconds;
        # one out of step shows it anywhere; one exactly in step always in one row.
        for name, read, rows, doubt in (
                ("creeping", cluster, 0.9 - 0.5 * (cluster - 7000) / 2000, True),
                ("anywhere", spread, rng.uniform(0, 1, len(spread)), False),
                ("in one row", cluster, np.full(len(cluster), 0.6), False)):
            with self.subTest(name):
                drift = course.readout_drift(read, rows, timeline, 0.4, frames)
                self.assertEqual(drift > video.MAX_READOUT_DRIFT, doubt, drift)


class Stutters(unittest.TestCase):
    def test_held_and_skipped_frames_are_placed_where_they_were_seen(self):
        starts = np.arange(200) * REFRESH
        contents = starts - REFRESH  # a lag of one refresh
        contents[50:52] = contents[49]  # one frame held two more refreshes
        contents[120:] += REFRESH  # a frame skipped: the lag shrinks by one refresh
        # A refresh read a whole refresh ahead, with nothing held near it: no frame is shown
        # sooner after it was drawn for one refresh only, so this is a misreading.
        contents[80] += REFRESH
        for every, name in ((1, "every refresh"), (2, "every other refresh")):
            with self.subTest(name):
                found = course.stutters(starts[::every], contents[::every], REFRESH)
                if every == 1:
                    self.assertEqual([s.moment_ms for s in found],
                                     [starts[50], starts[120]])
                else:
                    # A frame held at unseen refreshes leaves no trace; the lasting change
                    # is placed within the two refreshes it fell between.
                    self.assertEqual(len(found), 2 if found[0].moment_ms < starts[60] else 1)
                    self.assertLessEqual(abs(found[-1].moment_ms - starts[120]), REFRESH)
        self.assertEqual(course.stutters(starts, starts - 3.0, REFRESH), [])

    def test_lags_read_too_roughly_to_tell_a_held_frame_are_told_apart(self):
        rng = np.random.default_rng(3)
        starts = np.arange(300) * REFRESH
        for error, rough in ((0.05, False), (0.1, False), (0.2, True), (0.5, True)):
            with self.subTest(error=error):
                contents = starts - REFRESH + rng.normal(0, error * REFRESH, len(starts))
                contents[100:103] = contents[99]  # a frame held is not an error of reading
                scatter = course.lag_scatter(starts, contents, REFRESH)
                self.assertEqual(scatter > course.MAX_LAG_SCATTER, rough, scatter)

    def test_an_outline_off_by_a_fraction_of_a_pixel_makes_no_stutter_at_a_turn(self):
        # Through two turns of the sweep, and over one leg only; the sweep position read
        # 0.0015 + 0.0025 f off, as an outline a pixel too wide gives a 400-pixel window.
        for name, span in (("two turns", (3000, 14000)), ("one leg", (500, 4500))):
            with self.subTest(name):
                starts = np.arange(*span, REFRESH)
                shown = starts - 2 * REFRESH
                f = sweep(shown)
                shown[200:202] = shown[199]  # one frame held two more refreshes
                down = np.mod(shown, 10000) < 5000
                read = shown + np.where(down, -5000, 5000) * (0.0015 + 0.0025 * f)
                steady = read - course.sweep_error_ms(read, read - starts, f)
                found = course.stutters(starts, steady, REFRESH)
                self.assertEqual([s.moment_ms for s in found], [starts[200]])
                self.assertLess(course.lag_scatter(starts, steady, REFRESH), 0.01)

    def test_slips_are_placed_where_the_relative_scan_turns_over(self):
        moments = np.arange(0, 20000, 1000 / 60)
        relative = np.mod(0.5 + 0.06 * moments / 1000, 1.0)  # 0.06 refreshes a second
        found = course.slips(moments, relative)
        self.assertEqual(len(found), 1)
        self.assertAlmostEqual(found[0], 0.5 / 0.06 * 1000, delta=1.0)
        self.assertEqual(course.slips(moments, np.full(len(moments), 0.02)), [])


if __name__ == "__main__":
    unittest.main()
