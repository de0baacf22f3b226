"""Swap synchronisation by mode letter, on the real program with the display's OpenGL driver.

A line confirms only what the driver accepted, so what each mode must write depends on what the
driver offers (the session knows): under Wine, wglSwapIntervalEXT accepts 0 and 1 and the swap
group is not offered; on Xvfb's GLX, the extension string decides. Where the offer is not known
(-1 under Wine), either outcome passes, but nothing else.
"""

import unittest

from harness import EndToEndTest, start_session, stop_session

setUpModule = start_session
tearDownModule = stop_session


def interval_line(x, y, interval):
    return f"window at {x},{y} set swap interval {interval}"


def joined_line(x, y):
    return f"window at {x},{y} joined swap group"


BOUND_LINE = "bound swap barrier"


class SwapModes(EndToEndTest):
    def setup_lines(self, *groups):
        """Runs one window per (x, y, mode) until all are shown, closes them and returns the
        lines their set-ups wrote, in order."""
        run = self.session.launch(
            *[value for x, y, mode in groups for value in (x, y, 200, 120, mode)])
        self.session.wait_for_windows(len(groups), visible=True)
        self.session.close_all(run)
        return [line for line in self.assert_clean_end(run) if "swap" in line]

    def interval_lines(self, *windows):
        """The lines that windows (x, y, interval) with 0 or 1 must write."""
        if not self.session.swap_interval_offered:
            return []
        return [interval_line(*window) for window in windows]

    def tear_outcomes(self, x, y):
        """What a window in mode T may write."""
        line = interval_line(x, y, -1)
        offered = self.session.tear_offered
        return [[], [line]] if offered is None else [[line]] if offered else [[]]

    def test_vsync_and_no_sync_windows_set_their_interval(self):
        lines = self.setup_lines((0, 0, "V"), (300, 0, "N"))
        self.assertCountEqual(lines, self.interval_lines((0, 0, 1), (300, 0, 0)))

    def test_lower_case_letters_and_an_empty_mode_mean_no_sync(self):
        lines = self.setup_lines((0, 0, "v"), (300, 0, ""), (600, 0, "s"))
        self.assertCountEqual(lines, self.interval_lines((0, 0, 0), (300, 0, 0), (600, 0, 0)))

    def test_only_the_first_letter_of_a_mode_word_counts(self):
        lines = self.setup_lines((0, 0, "Vsync"), (300, -10, "Sync"))
        vsync_lines = self.interval_lines((0, 0, 1))
        self.assertEqual([line for line in lines if line in vsync_lines], vsync_lines)
        # Swap group mode sets no interval, and confirms only what the driver accepted.
        swap_group_lines = [line for line in lines if line not in vsync_lines]
        if self.session.swap_group_offered:
            self.assertIn(swap_group_lines, [[], [BOUND_LINE], [joined_line(300, -10)],
                                             [joined_line(300, -10), BOUND_LINE]])
        else:
            self.assertEqual(swap_group_lines, [])

    def test_tear_mode_sets_minus_one_only_if_the_driver_takes_it(self):
        lines = self.setup_lines((-100, 0, "T"))
        self.assertIn(lines, self.tear_outcomes(-100, 0))

    def test_set_up_lines_of_several_windows_are_whole_and_kept_together(self):
        groups = [(0, 0, "S"), (300, 0, "V"), (600, 0, "T"), (900, 0, "N"), (0, 300, "S")]
        lines = self.setup_lines(*groups)

        self.assertCountEqual(
            [line for line in lines if "swap interval" in line and "600," not in line],
            self.interval_lines((300, 0, 1), (900, 0, 0)))
        self.assertIn([line for line in lines if "600," in line], self.tear_outcomes(600, 0))
        group_lines = [line for line in lines if "interval" not in line]
        if not self.session.swap_group_offered:
            self.assertEqual(group_lines, [])
        # Both swap-group windows get the same answers: all of their lines or none, and each
        # window's lines come together.
        self.assertLessEqual(set(group_lines), {joined_line(0, 0), joined_line(0, 300),
                                                BOUND_LINE})
        self.assertIn(group_lines.count(BOUND_LINE), (0, 2))
        joined = [i for i, line in enumerate(lines) if "joined" in line]
        self.assertIn(len(joined), (0, 2))
        if BOUND_LINE in lines:
            for i in joined:
                self.assertEqual(lines[i + 1], BOUND_LINE)


if __name__ == "__main__":
    unittest.main()
