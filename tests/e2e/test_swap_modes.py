"""Swap synchronisation by mode letter, on the real executable with Wine's OpenGL driver.

Under Wine, wglSwapIntervalEXT accepts 0 and 1, may refuse -1, and WGL_NV_swap_group is not
offered; the tests accept whatever the driver offers but nothing else.
"""

import unittest

from harness import WineTest, start_session, stop_session

setUpModule = start_session
tearDownModule = stop_session


def interval_line(x, y, interval):
    return f"window at {x},{y} set swap interval {interval}"


def joined_line(x, y):
    return f"window at {x},{y} joined swap group"


BOUND_LINE = "bound swap barrier"


class SwapModes(WineTest):
    def setup_lines(self, *groups):
        """Runs one window per (x, y, mode) until all are shown, closes them and returns the
        lines their set-ups wrote, in order."""
        run = self.session.launch(*[value for x, y, mode in groups for value in (x, y, 200, 120, mode)])
        self.session.wait_for_windows(len(groups), visible=True)
        self.session.close_all(run)
        return [line for line in self.assert_clean_end(run) if "swap" in line]

    def test_vsync_and_no_sync_windows_confirm_their_interval(self):
        lines = self.setup_lines((0, 0, "V"), (300, 0, "N"))
        self.assertCountEqual(lines, [interval_line(0, 0, 1), interval_line(300, 0, 0)])

    def test_lower_case_letters_and_an_empty_mode_mean_no_sync(self):
        lines = self.setup_lines((0, 0, "v"), (300, 0, ""), (600, 0, "s"))
        self.assertCountEqual(
            lines, [interval_line(0, 0, 0), interval_line(300, 0, 0), interval_line(600, 0, 0)])

    def test_only_the_first_letter_of_a_mode_word_counts(self):
        lines = self.setup_lines((0, 0, "Vsync"), (300, -10, "Sync"))
        self.assertIn(interval_line(0, 0, 1), lines)
        # Swap group mode sets no interval, and confirms only what the driver accepted.
        swap_group_lines = [line for line in lines if line != interval_line(0, 0, 1)]
        self.assertIn(swap_group_lines, [[], [BOUND_LINE], [joined_line(300, -10)],
                                         [joined_line(300, -10), BOUND_LINE]])

    def test_tear_mode_confirms_minus_one_only_if_the_driver_accepts_it(self):
        lines = self.setup_lines((-100, 0, "T"))
        self.assertIn(lines, [[], [interval_line(-100, 0, -1)]])

    def test_set_up_lines_of_several_windows_are_whole_and_kept_together(self):
        groups = [(0, 0, "S"), (300, 0, "V"), (600, 0, "T"), (900, 0, "N"), (0, 300, "S")]
        lines = self.setup_lines(*groups)

        allowed = {interval_line(300, 0, 1), interval_line(600, 0, -1),
                   interval_line(900, 0, 0), joined_line(0, 0), joined_line(0, 300), BOUND_LINE}
        self.assertLessEqual(set(lines), allowed, "every line is whole and known")
        self.assertEqual(lines.count(interval_line(300, 0, 1)), 1)
        self.assertEqual(lines.count(interval_line(900, 0, 0)), 1)
        self.assertLessEqual(lines.count(interval_line(600, 0, -1)), 1)
        # The driver answers both swap-group windows alike: all of their lines or none.
        self.assertIn(lines.count(BOUND_LINE), (0, 2))
        joined = [i for i, line in enumerate(lines) if "joined" in line]
        self.assertIn(len(joined), (0, 2))
        if BOUND_LINE in lines:
            for i in joined:
                self.assertEqual(lines[i + 1], BOUND_LINE, "a window's lines come together")


if __name__ == "__main__":
    unittest.main()
