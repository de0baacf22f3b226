"""The sync test pattern as it appears on the (virtual) screen, across windows and over time."""

import os
import time
import unittest

from harness import BUILD_DIR, EndToEndTest, start_session, stop_session, wait_until
from pattern_check import PERIOD, PatternError, phases_of, read_window, triangle

# Three windows of different sizes, apart from each other: x, y, width, height.
WINDOWS = [(40, 40, 400, 300), (500, 40, 640, 480), (40, 400, 320, 200)]

# The sweep position changes by 1 in half a period.
SWEEP_PER_SECOND = 2.0 / PERIOD
# How far apart in time the frames on one screenshot may have been drawn: a few frames at 60 Hz,
# with room for a busy machine.
FRAME_SKEW_SECONDS = 0.1
SCREENSHOTS = 3

setUpModule = start_session
tearDownModule = stop_session


def midpoint(sweep):
    return (sweep.low + sweep.high) / 2.0


class Pattern(EndToEndTest):
    def setUp(self):
        super().setUp()
        self.run = self.session.launch(*[value for window in WINDOWS for value in (*window, "N")])
        self.session.wait_for_windows(len(WINDOWS), visible=True)

    def tearDown(self):
        self.session.close_all(self.run)
        self.assert_clean_end(self.run)

    def read_screen(self):
        """Screenshot of all windows: (moment taken, its uncertainty, one SweepRange each)."""
        last_error = []

        def attempt():
            before = time.monotonic()
            image = self.session.screenshot()
            after = time.monotonic()
            try:
                return (before + after) / 2, (after - before) / 2, [
                    read_window(image, *window) for window in WINDOWS]
            except PatternError as error:
                last_error[:] = [error]
                return None

        try:
            # The first frames may come a moment after the windows are shown.
            return wait_until(attempt, 20, "every window to show the pattern", interval=0.2)
        except AssertionError as timeout:
            raise AssertionError(f"{timeout}; last reading: {last_error}") from None

    def test_every_window_shows_the_frame_and_two_bars_at_one_point_of_the_sweep(self):
        # On a busy machine one window may draw late for a moment; windows out of phase are so
        # in every screenshot.
        readings = []
        for _ in range(SCREENSHOTS):
            _, _, sweeps = self.read_screen()
            readings.append((max(s.low for s in sweeps) - min(s.high for s in sweeps), sweeps))
            if readings[-1][0] <= SWEEP_PER_SECOND * FRAME_SKEW_SECONDS:
                break
        self.session.save_screenshot(os.path.join(BUILD_DIR, "pattern-screenshot.png"))

        spread, sweeps = min(readings, key=lambda reading: reading[0])
        self.assertLessEqual(spread, SWEEP_PER_SECOND * FRAME_SKEW_SECONDS,
                             f"windows out of phase in {len(readings)} screenshots: {sweeps}")

    def test_the_sweep_moves_as_the_clock_says(self):
        first_moment, first_uncertainty, first = self.read_screen()
        wait_until(lambda: time.monotonic() > first_moment + 1.5, 5, "time to pass")
        second_moment, second_uncertainty, second = self.read_screen()

        elapsed = second_moment - first_moment
        tolerance = SWEEP_PER_SECOND * (first_uncertainty + second_uncertainty
                                        + FRAME_SKEW_SECONDS)
        for before, after, window in zip(first, second, WINDOWS):
            quantum = 1.0 / (window[2] - 9) + 1.0 / (window[3] - 9)
            # One sweep position fits two phases; the clock has to agree with one of them.
            predictions = [triangle(phase + elapsed / PERIOD)
                           for phase in phases_of(midpoint(before))]
            error = min(abs(prediction - midpoint(after)) for prediction in predictions)
            self.assertLessEqual(error, tolerance + quantum,
                                 f"window {window}: {before} then {after} after {elapsed:.3f} s")


if __name__ == "__main__":
    unittest.main()
