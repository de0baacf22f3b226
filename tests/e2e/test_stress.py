"""Reliability of the real executable under Wine: load, repeated launches closed at random
moments, a table of bad command lines and a window whose set-up fails. Whatever happens, the
program must end cleanly: no hang, no crash, no cut or interleaved line, no process left behind.

The module writes a summary of its figures to stress-summary.txt in the build folder (and to
standard error). STRESS_SEED repeats the random choices of an earlier run.
"""

import os
import random
import re
import subprocess
import sys
import time
import unittest
from collections import Counter

from harness import (BUILD_DIR, EXIT_TIMEOUT, PLATFORM, TOOL_EXE, EndToEndTest, ToolRun,
                     start_session, start_xvfb, stop_session, wait_until)
from output_lines import CONNECTION_LOST, REPORT, SETUP_FAILED, is_window_line, looks_interleaved

SEED = int(os.environ.get("STRESS_SEED", time.time_ns() % 1_000_000))
FIGURES = Counter()


def setUpModule():
    start_session()


def tearDownModule():
    stop_session()
    summary = (
        f"stress summary (seed {SEED}): {FIGURES['runs']} runs, {FIGURES['windows']} windows "
        f"opened, {FIGURES['closes']} closes sent, {FIGURES['hidden closes']} sent before the "
        f"start, {FIGURES['hangs']} hangs, {FIGURES['crashes']} crashes, {FIGURES['reports']} "
        f"report lines, {FIGURES['malformed']} malformed, {FIGURES['interleaved']} interleaved, "
        f"{FIGURES['setup failures']} set-up failures, {FIGURES['usage texts']} usage texts, "
        f"{FIGURES['connections lost']} connections lost, {FIGURES['display faults']} display "
        f"faults survived, {FIGURES['left behind']} processes left behind")
    print(summary, file=sys.stderr)
    with open(os.path.join(BUILD_DIR, "stress-summary.txt"), "w") as file:
        file.write(summary + "\n")


def grid(count, width, height, columns, gap=10):
    return [(gap + (i % columns) * (width + gap), gap + (i // columns) * (height + gap), width,
             height) for i in range(count)]


def arguments(windows, mode="N"):
    return [value for window in windows for value in (*window, mode)]


class StressTest(EndToEndTest):
    def launch(self, *args):
        FIGURES["runs"] += 1
        return self.session.launch(*args)

    def finish(self, run, usage=False, expected_status=0):
        """Waits, within a bound, for the run to end with the status it should have (1 after
        the usage text, else expected_status); counts and fails hangs, crashes and other
        statuses, and checks every line. Returns the lines between the opening and the closing
        line."""
        expected_status = 1 if usage else expected_status
        try:
            status = run.wait_exit(EXIT_TIMEOUT)
        except Exception:
            FIGURES["hangs"] += 1
            run.kill()
            self.fail(f"hung: {run.args}")
        if status != expected_status:
            FIGURES["crashes"] += status not in (0, 1)
            self.fail(f"exit status {status} for {run.args}; output {run.output()!r}; "
                      f"standard error {run.stderr[-2000:]!r}")
        lines = run.lines() if usage else self.assert_clean_end(run, expected_status)
        for line in lines:
            FIGURES["reports"] += bool(REPORT.fullmatch(line))
            FIGURES["setup failures"] += bool(SETUP_FAILED.fullmatch(line))
            if not is_window_line(line):
                FIGURES["malformed"] += 1
                FIGURES["interleaved"] += looks_interleaved(line)
                self.fail(f"malformed line {line!r} in {run.args}; whole output "
                          f"{run.output()!r}")
        try:
            wait_until(lambda: not self.session.tool_processes(), EXIT_TIMEOUT,
                       "the tool's processes to end")
        except AssertionError:
            FIGURES["left behind"] += len(self.session.tool_processes())
            raise
        return lines

    def send(self, command, x, y):
        FIGURES["closes"] += 1
        return self.session.send(command, x, y)

    def run_to_end(self, args):
        """Runs a command line to its end: a valid one until every window has started or failed
        and then closed, a wrong one until its usage box is dismissed."""
        run = self.launch(*args)
        if not args or len(args) % 5:
            self.session.usage_text(run)
            FIGURES["usage texts"] += 1
            self.session.dismiss_usage(run)
            self.assertEqual(self.finish(run, usage=True), [], "nothing on standard output")
            return
        groups = len(args) // 5

        def settled():
            failed = sum(bool(SETUP_FAILED.fullmatch(line)) for line in run.lines())
            return failed + len([w for w in self.session.windows() if w.visible]) == groups

        wait_until(settled, 60, f"{groups} windows to start or fail")
        FIGURES["windows"] += groups
        FIGURES["closes"] += 1
        self.session.probe("close-all")
        self.finish(run)


class Load(StressTest):
    def test_sixteen_windows_report_and_close_in_random_order(self):
        rng = random.Random(SEED)
        windows = grid(16, 220, 160, columns=8)
        run = self.launch(*arguments(windows))
        FIGURES["windows"] += len(windows)
        self.session.wait_for_windows(len(windows), visible=True, timeout=60)

        def reporting():
            return {(int(m[1]), int(m[2])) for m in map(REPORT.fullmatch, run.lines()) if m}
        expected = {(x, y) for x, y, _, _ in windows}
        wait_until(lambda: reporting() == expected, 60, "a report from every window")
        wait_until(lambda: sum(bool(REPORT.fullmatch(line)) for line in run.lines()) >= 400,
                   60, "a few seconds of reports")

        order = windows[:]
        rng.shuffle(order)
        for remaining, (x, y, _, _) in enumerate(order[:-1], 1):
            self.assertTrue(self.send(rng.choice(["esc", "close"]), x, y))
            self.session.wait_for_window_gone(x, y)
            self.assertEqual(len(self.session.windows()), len(windows) - remaining)
            self.assertTrue(run.running())
        x, y, _, _ = order[-1]
        self.send(rng.choice(["esc", "close"]), x, y)
        self.finish(run)


class Repetition(StressTest):
    def test_twenty_launches_closed_at_random_moments(self):
        rng = random.Random(SEED + 1)
        for launch in range(20):
            windows = grid(rng.randint(1, 4), 200, 150, columns=4)
            with self.subTest(launch=launch, windows=len(windows)):
                self.close_at_random_moment(rng, windows)

    def close_at_random_moment(self, rng, windows):
        run = self.launch(*arguments(windows, rng.choice("NVST")))
        FIGURES["windows"] += len(windows)
        # Anywhere from before the first window exists to well after the start.
        moment = run.started + rng.uniform(0.0, 2.5)
        wait_until(lambda: time.monotonic() >= moment, 5, "the chosen moment")

        hidden = [(w.x, w.y) for w in self.session.windows() if not w.visible]
        for x, y in hidden:
            FIGURES["hidden closes"] += self.send(rng.choice(["esc", "close"]), x, y)
        after = [(w.x, w.y, w.visible) for w in self.session.windows()]
        # The start comes a second after launch at the soonest. Until then a window neither
        # shows nor reacts: every one that was sent a close is still there, hidden.
        if time.monotonic() < run.started + 1.0:
            for x, y in hidden:
                self.assertIn((x, y, False), after)

        # Keep closing what is there, as a user would, until the program has ended.
        def ended():
            if not run.running():
                return True
            for window in self.session.windows():
                self.send(rng.choice(["esc", "close"]), window.x, window.y)
            return not run.running()
        wait_until(ended, 60, "the program to end", interval=0.2)
        self.finish(run)
        self.assertEqual(self.session.windows(), [])


class ClosingTogether(StressTest):
    def test_windows_closed_at_the_same_moment_end_cleanly(self):
        # Every window ends at once, so their tear-downs run side by side.
        windows = grid(4, 200, 150, columns=4)
        for launch in range(10):
            with self.subTest(launch=launch):
                self.run_to_end(arguments(windows, "NVNV"[launch % 4]))


class BadCommandLines(StressTest):
    CASES = {
        "no digits": ["x", "y", "wide", "high", "N"],
        "digits then letters": ["10a", "20b", "200px", "100!", "V"],
        "signs": ["+10", "-0", "+200", "+100", "N", "--5", "+-5", "-+200", "100", "N"],
        "white space": [" 10", "\t20", "  200", "\n100", " N"],
        "empty strings": ["", "", "", "", ""],
        "beyond 32 bits": ["4294967296", "-4294967296", "99999999999999999999", "120", "V"],
        "zero sizes": [10, 10, 0, 0, "N", 300, 10, 0, 100, "N"],
        "negative sizes": [10, 10, -100, -100, "N", 300, 10, "-2147483648", "-1", "N"],
        "very large sizes": [0, 0, 100000, 100000, "N", 0, 0, "2147483647", 100, "N"],
        "far off the screen": [100000, 100000, 200, 100, "N", -100000, -100000, 200, 100, "T",
                               "2147483647", "-2147483648", 100, 100, "N"],
        "every mode class": [value for window, mode in zip(
            grid(13, 60, 40, columns=13),
            ["S", "V", "T", "N", "s", "v", "t", "n", "x", "1", "-", "\u00e9", ""])
            for value in (*window, mode)],
        "fifty windows": arguments(grid(50, 60, 40, columns=25)),
        "one argument": ["10"],
        "one group and one more": [0, 0, 100, 100, "N", "0"],
    }

    def test_every_command_line_runs_and_ends_or_shows_the_usage_box(self):
        for name, args in self.CASES.items():
            with self.subTest(name):
                self.run_to_end(args)


class Faults(StressTest):
    def test_a_window_the_driver_cannot_draw_fails_alone(self):
        # Larger than any driver's largest drawable; llvmpipe crashes on it if it starts.
        run = self.launch(0, 0, 40000, 40000, "N", 300, 0, 200, 150, "N", 600, 0, 200, 150, "V")
        FIGURES["windows"] += 3
        failure = run.wait_for_line(SETUP_FAILED.fullmatch, what="the set-up failure line")
        self.assertRegex(failure, r"^window at 0,0 could not be set up: 40000x40000 pixels is "
                                  r"more than the driver can draw \(at most \d+x\d+\)$")
        windows = self.session.wait_for_windows(2, visible=True)
        self.assertEqual(sorted(w.x for w in windows), [300, 600])
        for x in (300, 600):
            wait_until(lambda: any(re.fullmatch(rf"window at {x},0 refreshes at .*", line)
                                   for line in run.lines()), 30, f"reports from {x},0")
        self.send("close", 300, 0)
        self.session.wait_for_window_gone(300, 0)
        self.send("esc", 600, 0)
        self.assertEqual(self.finish(run).count(failure), 1)


@unittest.skipUnless(PLATFORM == "x11", "faults of the X server and of other X clients")
class DisplayFaults(StressTest):
    """What a desktop does to the Linux program: another client kills, destroys or sends odd
    messages to one window, or the X server goes away. Each ends only what it started."""

    LEFT, RIGHT = (40, 40, 300, 200), (380, 40, 300, 200)

    def reports_from(self, run, x, after=0):
        wait_until(lambda: sum(bool(re.fullmatch(rf"window at {x},40 refreshes at .*", line))
                               for line in run.lines()) > after, 30, f"reports from {x},40")
        return sum(bool(re.fullmatch(rf"window at {x},40 refreshes at .*", line))
                   for line in run.lines())

    def two_windows(self):
        run = self.launch(*arguments([self.LEFT, self.RIGHT]))
        FIGURES["windows"] += 2
        self.session.wait_for_windows(2, visible=True)
        self.reports_from(run, 380)
        return run

    def test_one_window_harmed_by_another_client_ends_alone(self):
        def kill(window):
            subprocess.run(["xkill", "-display", self.session.display, "-id", str(window.id)],
                           env=self.session.env, capture_output=True, timeout=30, check=True)

        def destroy(window):
            self.assertEqual(self.session.probe("destroy", window.x, window.y)[0], 0)

        # (what happens to the left window, the status the run ends with, the line it leaves)
        cases = [("killed", kill, 1, ["window at 40,40 lost its display connection"]),
                 ("destroyed", destroy, 0, [])]
        for name, harm, status, lines in cases:
            with self.subTest(name):
                run = self.two_windows()
                left = next(w for w in self.session.windows() if w.x == 40)
                reported = self.reports_from(run, 380)
                harm(left)
                self.session.wait_for_window_gone(40, 40)
                self.reports_from(run, 380, after=reported)  # the other window runs on
                self.send("esc", 380, 40)
                ended = self.finish(run, expected_status=status)
                self.assertEqual([line for line in ended if CONNECTION_LOST.fullmatch(line)],
                                 lines)
                FIGURES["connections lost"] += len(lines)
                FIGURES["display faults"] += 1

    def test_only_a_protocol_message_closes_a_window(self):
        run = self.two_windows()
        self.assertEqual(self.session.probe("forge-close", 40, 40)[0], 0)
        reported = self.reports_from(run, 40)
        self.reports_from(run, 40, after=reported)
        self.assertTrue(any(w.x == 40 for w in self.session.windows()), "the window stays")
        FIGURES["display faults"] += 1
        self.session.probe("close-all")
        self.finish(run)

    def test_every_window_ends_when_the_server_goes(self):
        server, display = start_xvfb(640, 480)
        elsewhere = type("Elsewhere", (), {})()
        elsewhere.env = dict(self.session.env, DISPLAY=display)
        try:
            run = ToolRun(elsewhere, self.session.command(
                TOOL_EXE, [str(value) for value in arguments([self.LEFT, self.RIGHT])]))
            FIGURES["runs"] += 1
            FIGURES["windows"] += 2
            self.reports_from(run, 40)
            self.reports_from(run, 380)
        finally:
            server.kill()
            server.wait()
        ended = self.finish(run, expected_status=1)
        lost = sorted(line for line in ended if CONNECTION_LOST.fullmatch(line))
        self.assertEqual(lost, ["window at 380,40 lost its display connection",
                                "window at 40,40 lost its display connection"])
        FIGURES["connections lost"] += len(lost)
        FIGURES["display faults"] += 1


if __name__ == "__main__":
    unittest.main()
