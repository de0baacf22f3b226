"""The launcher and the window threads, driven on the real executable under Wine."""

import time
import unittest

from harness import EndToEndTest, start_session, stop_session, wait_until

USAGE_TEXT = (
    "Please run from the command shell and provide \n"
    "the dimensions of each window to open (x, y, width, height) and the swap behavior "
    "(S: join swap group, V: wait for vsync, T: swap control tear, N: no sync).\n"
    "e.g. Varnel  0 0 1920 1200 S   1920 0 1920 1200 S"
)

setUpModule = start_session
tearDownModule = stop_session


def group(x, y, width=200, height=150, mode="N"):
    return [x, y, width, height, mode]


class UsageBox(EndToEndTest):
    def test_wrong_argument_counts_show_the_usage_box_and_exit_with_1(self):
        for count in (0, 4, 9, 12):
            with self.subTest(arguments=count):
                run = self.session.launch(*(["10"] * count))
                self.assertEqual(self.session.usage_text(run), USAGE_TEXT)
                self.assertEqual(self.session.windows(), [])
                self.session.dismiss_usage(run)
                self.assertEqual(run.wait_exit(), 1)
                self.assertEqual(run.output(), "")
                self.assertEqual(self.session.windows(), [])


class ClockChoice(EndToEndTest):
    def test_a_clock_that_is_not_one_is_refused_before_any_window_opens(self):
        for value in ("wall", "System"):
            with self.subTest(value=value):
                run = self.session.launch(*group(10, 10), env={"VARNEL_CLOCK": value})
                self.assertEqual(self.session.usage_text(run, "VARNEL_CLOCK"),
                                 f'VARNEL_CLOCK is "{value}": it must be "system" (the wall '
                                 'clock, for windows on several machines) or "monotonic" (the '
                                 'default).')
                self.assertEqual(self.session.windows(), [])
                self.session.dismiss_usage(run, "VARNEL_CLOCK")
                self.assertEqual(run.wait_exit(), 1)
                self.assertEqual(run.output(), "")

    def test_either_clock_runs_the_windows(self):
        for value in ("monotonic", "system"):
            with self.subTest(value=value):
                run = self.session.launch(*group(10, 10), env={"VARNEL_CLOCK": value})
                self.session.wait_for_windows(1, visible=True)
                self.assertTrue(self.session.send("esc", 10, 10))
                self.assert_clean_end(run)


class StartGate(EndToEndTest):
    def test_one_window_is_hidden_until_the_start_then_shown_at_its_rectangle(self):
        run = self.session.launch(*group(100, 50, 320, 200))
        hidden = self.session.wait_for_windows(1, visible=False)
        hidden_seen = time.monotonic()
        shown = self.session.wait_for_windows(1, visible=True)
        shown_seen = time.monotonic()

        self.assertEqual((hidden[0].x, hidden[0].y), (100, 50))
        # The start comes one second after the window was created, never sooner.
        self.assertGreaterEqual(shown_seen - run.started, 1.0)
        self.assertLess(shown_seen - hidden_seen, 4.0)

        window = shown[0]
        self.assertEqual((window.x, window.y, window.width, window.height), (100, 50, 320, 200))
        self.assertEqual(window.title, "Varnel")
        self.assertTrue(window.borderless)
        self.assertTrue(window.taskbar, "the window has a taskbar button")

        self.assertTrue(self.session.send("esc", 100, 50))
        setup_lines = [line for line in self.assert_clean_end(run) if "refreshes" not in line]
        self.assertEqual(setup_lines, ["window at 100,50 set swap interval 0"]
                         if self.session.swap_interval_offered else [])


class Closing(EndToEndTest):
    def test_esc_and_close_end_one_window_each_and_the_last_ends_the_program(self):
        run = self.session.launch(*group(0, 0), *group(300, 0), *group(600, 0))
        windows = self.session.wait_for_windows(3, visible=True)
        if windows[0].thread is not None:
            self.assertEqual(len({w.thread for w in windows}), 3, "one thread per window")
        self.assertEqual(len({w.pid for w in windows}), 1)

        self.assertTrue(self.session.send("esc", 0, 0))
        self.session.wait_for_window_gone(0, 0)
        self.assertEqual(sorted((w.x, w.visible) for w in self.session.windows()),
                         [(300, True), (600, True)])
        self.assertTrue(run.running())

        self.assertTrue(self.session.send("close", 300, 0))
        self.session.wait_for_window_gone(300, 0)
        self.assertEqual([(w.x, w.visible) for w in self.session.windows()], [(600, True)])
        self.assertTrue(run.running())
        self.assertNotIn("finished.", run.output())

        self.assertTrue(self.session.send("esc", 600, 0))
        self.assert_clean_end(run)
        self.assertEqual(self.session.windows(), [])


class OtherKeys(EndToEndTest):
    def test_keys_other_than_esc_leave_the_window_running(self):
        run = self.session.launch(*group(0, 0))
        self.session.wait_for_windows(1, visible=True)
        for key in ("a", "return", "space"):
            self.assertTrue(self.session.send_key(0, 0, key))
        # Reports written after the keys were queued prove the frame loop went on past them.
        sent = len(run.lines())
        wait_until(lambda: sum("refreshes" in line for line in run.lines()[sent:]) >= 2, 30,
                   "two reports after the keys")
        self.assertEqual(len(self.session.windows()), 1)
        self.session.close_all(run)
        self.assert_clean_end(run)


class Numbers(EndToEndTest):
    """How the numbers of the command line become window rectangles."""

    def rectangle(self, args):
        """Runs one window and returns its rectangle on the desktop."""
        run = self.session.launch(*args)
        [window] = self.session.wait_for_windows(1, visible=True)
        self.session.close_all(run)
        self.assert_clean_end(run)
        return window.x, window.y, window.width, window.height

    def test_numbers_are_read_up_to_the_first_non_digit(self):
        self.assertEqual(self.rectangle(["10px", " +20", "300x", "200 high", "Sync"]),
                         (10, 20, 300, 200))

    def test_negative_positions_pass_through(self):
        self.assertEqual(self.rectangle(group(-50, -40, 200, 150)), (-50, -40, 200, 150))


if __name__ == "__main__":
    unittest.main()
