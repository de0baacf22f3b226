"""Refresh-rate report lines of the real executable under Wine."""

import unittest

from harness import EndToEndTest, start_session, stop_session, wait_until
from output_lines import REPORT, REPORT_FRAMES

# Lines reach the test through a pipe, a few ms after they are written, more on a busy machine.
ARRIVAL_SLACK_S = 0.05

setUpModule = start_session
tearDownModule = stop_session


def reports(run, x, y):
    """(arrival time, average rate, minimum rate) of the window's report lines so far."""
    found = []
    for arrived, line in run.timed_lines():
        match = REPORT.fullmatch(line)
        if match and (int(match[1]), int(match[2])) == (x, y):
            found.append((arrived, float(match[3]), float(match[4])))
    return found


class Reports(EndToEndTest):
    def test_two_windows_report_in_the_exact_form_at_the_hundred_frame_cadence(self):
        windows = [(0, 0), (-30, 300)]
        run = self.session.launch(0, 0, 200, 120, "N", -30, 300, 200, 120, "N")
        for x, y in windows:
            wait_until(lambda: len(reports(run, x, y)) >= 20, 60, f"20 reports from {x},{y}")
        self.session.close_all(run)

        for line in self.assert_clean_end(run):
            if "refreshes" in line:
                match = REPORT.fullmatch(line)
                self.assertIsNotNone(match, f"malformed report line {line!r}")
                for rate in match[3], match[4]:
                    # The stream's default format: 6 significant digits, no trailing zeros.
                    self.assertEqual(rate, f"{float(rate):.6g}")

        for x, y in windows:
            lines = reports(run, x, y)
            # The longest frame of a report lies between its line and the one before: no
            # longer than the time between them (give or take the lines' delivery), and no
            # shorter than their mean frame.
            for (before, _, _), (arrived, _, minimum) in zip(lines[1:], lines[2:]):
                gap = arrived - before
                self.assertLessEqual(1 / minimum, gap + ARRIVAL_SLACK_S, (x, y, arrived))
                self.assertGreaterEqual(1 / minimum, gap / REPORT_FRAMES / 1.3, (x, y, arrived))
            # From one report to the next, the window draws 100 frames at the rate it reports,
            # so the reported rates account for the time between the lines as they arrive.
            measured = lines[-1][0] - lines[1][0]
            reported = sum(REPORT_FRAMES / average for _, average, _ in lines[2:])
            self.assertAlmostEqual(reported / measured, 1.0, delta=0.15,
                                   msg=f"window {x},{y}: {reported:.3f} s reported, "
                                   f"{measured:.3f} s between lines")


if __name__ == "__main__":
    unittest.main()
