"""The photo analyser on real screenshots of the tool: every window found and named by its
group, and no lag larger than the moments at which the windows were captured allow."""

import json
import os
import subprocess

from harness import BUILD_DIR, EndToEndTest, start_session, stop_session, wait_until
from pattern_check import PatternError, read_window

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINDOWS = [(40, 40, 640, 400, "V"), (760, 40, 560, 420, "N"), (40, 520, 800, 450, "T")]
# The windows of one screenshot are captured one after another, a few frames apart at most on a
# busy machine (as in the pattern test), and the bars quantise a position to a pixel.
CAPTURE_SKEW_MS = 100.0
# On a busy machine a software-rendered window now and then draws its frames a few more frames
# late, and a screenshot within a tenth of a second of a turn of the sweep tells no lag: of this
# many screenshots taken in a row (each takes longer than the turn lasts), one is to show every
# window within the skew.
CAPTURES = 3


def inspect_every_window(test, path):
    """The analyser's JSON result for the file, after checking that it found and named every
    window."""
    groups = [str(value) for window in WINDOWS for value in window]
    done = subprocess.run([os.path.join(ROOT, "scripts", "inspect.sh"), "--json", path, *groups],
                          capture_output=True, text=True, timeout=300)
    test.assertIn(done.returncode, (0, 3, 4), done.stderr)
    result = json.loads(done.stdout)
    test.assertEqual(sorted(w["name"] for w in result["windows"]),
                     sorted(f"{x},{y}" for x, y, *_ in WINDOWS))
    test.assertEqual(result["missing"], [])
    return result


setUpModule = start_session
tearDownModule = stop_session


class AnalyserOnScreenshots(EndToEndTest):
    def test_every_window_is_found_named_and_in_step(self):
        run = self.session.launch(*[str(value) for window in WINDOWS for value in window])
        self.session.wait_for_windows(len(WINDOWS), visible=True)
        path = os.path.join(BUILD_DIR, "analyser-screenshot.png")

        def patterns_drawn():
            image = self.session.screenshot(keep=path)
            try:
                for x, y, width, height, _ in WINDOWS:
                    read_window(image, x, y, width, height)
            except PatternError:
                return False
            return True

        wait_until(patterns_drawn, 20, "every window to show the pattern", interval=0.2)
        paths = [path] + [os.path.join(BUILD_DIR, f"analyser-screenshot-{n}.png")
                          for n in range(1, CAPTURES)]
        for later in paths[1:]:
            self.session.screenshot(keep=later)
        self.session.close_all(run)
        self.assert_clean_end(run)

        lags = []
        for capture in paths:
            result = inspect_every_window(self, capture)
            for window in result["windows"]:
                self.assertEqual([b for b in window["breaks"] if b["kind"] == "tear"], [])
            if not at_a_turn(self, result):
                assert_refresh_not_told(self, result)
                lags.append({w["name"]: w["lag_ms"] for w in result["windows"]})
        self.assertTrue(any(max(lag.values()) <= CAPTURE_SKEW_MS for lag in lags), lags)


def at_a_turn(test, result):
    """Whether the capture caught the bars at a turn of the sweep, where a window frames behind
    may show its bars where one in step does: the analyser then judges nothing from them."""
    turn = [u for u in result["unsettled"] if "turn of the sweep" in u["what"]]
    if turn:
        test.assertEqual(result["verdict"], "cannot tell", result["reasons"])
    return bool(turn)


def assert_refresh_not_told(test, result):
    """A capture of the screen copies whole frames, so it shows no display's scan-out: the
    refresh stays unsettled. The windows are captured moments apart, so the capture may show
    them a frame apart (NOT IN SYNC for that lag alone); otherwise it settles that they show
    the same frame and can tell no more."""
    test.assertTrue(any("scan-out boundary" in u["what"] for u in result["unsettled"]),
                    result["unsettled"])
    if result["verdict"] == "not in sync":
        test.assertTrue(all("behind" in reason for reason in result["reasons"]),
                        result["reasons"])
        return
    test.assertEqual((result["verdict"], result["in_sync"]), ("cannot tell", None),
                     result["reasons"])
    # A lag caught near half a frame is not settled either way.
    test.assertTrue(any("show the same frame" in s for s in result["settled"]) or any(
        "read only to" in u["what"] for u in result["unsettled"]), result)
