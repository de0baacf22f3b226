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

setUpModule = start_session
tearDownModule = stop_session


class AnalyserOnScreenshots(EndToEndTest):
    def test_every_window_is_found_named_and_in_step(self):
        run = self.session.launch(*[str(value) for window in WINDOWS for value in window])
        self.session.wait_for_windows(len(WINDOWS), visible=True)
        path = os.path.join(BUILD_DIR, "analyser-screenshot.png")

        def patterns_drawn():
            image = self.session.screenshot()
            try:
                for x, y, width, height, _ in WINDOWS:
                    read_window(image, x, y, width, height)
            except PatternError:
                return False
            self.session.save_screenshot(path)
            return True

        wait_until(patterns_drawn, 20, "every window to show the pattern", interval=0.2)
        self.session.close_all(run)
        self.assert_clean_end(run)

        groups = [str(value) for window in WINDOWS for value in window]
        done = subprocess.run([os.path.join(ROOT, "scripts", "inspect.sh"), "--json", path,
                               *groups], capture_output=True, text=True, timeout=120)
        self.assertIn(done.returncode, (0, 3), done.stderr)
        result = json.loads(done.stdout)
        names = sorted(w["name"] for w in result["windows"])
        self.assertEqual(names, sorted(f"{x},{y}" for x, y, *_ in WINDOWS))
        self.assertEqual(result["missing"], [])
        for window in result["windows"]:
            self.assertLessEqual(window["lag_ms"], CAPTURE_SKEW_MS, window)
            self.assertEqual([b for b in window["breaks"] if b["kind"] == "tear"], [])


class AnalyserOnVideoRecording(EndToEndTest):
    """The virtual display recorded into a video while the tool runs, as a camera would film
    a wall. Its frames are whole copies of the screen, with no scan-out to see. (Named to run
    after the screenshot test: under Wine, the probe answered slowly right after a recording.)"""

    SECONDS = 3

    def test_every_window_is_followed_and_named(self):
        run = self.session.launch(*[str(value) for window in WINDOWS for value in window])
        self.session.wait_for_windows(len(WINDOWS), visible=True)
        path = os.path.join(BUILD_DIR, "analyser-recording.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-f", "x11grab", "-framerate",
                        "30", "-video_size", f"{self.session.width}x{self.session.height}",
                        "-i", self.session.display, "-t", str(self.SECONDS), "-c:v", "libx264",
                        "-preset", "ultrafast", "-crf", "18", "-pix_fmt", "yuv420p", path],
                       check=True, timeout=60, env=self.session.env)
        self.session.close_all(run)
        self.assert_clean_end(run)

        groups = [str(value) for window in WINDOWS for value in window]
        done = subprocess.run([os.path.join(ROOT, "scripts", "inspect.sh"), "--json", path,
                               *groups], capture_output=True, text=True, timeout=300)
        self.assertIn(done.returncode, (0, 3), done.stderr)
        result = json.loads(done.stdout)
        self.assertEqual(sorted(w["name"] for w in result["windows"]),
                         sorted(f"{x},{y}" for x, y, *_ in WINDOWS))
        self.assertEqual(result["missing"], [])
        for window in result["windows"]:
            self.assertGreater(window["frames_read"], 0.8 * 30 * self.SECONDS, window["name"])
            self.assertLessEqual(abs(window["offset_ms"]), CAPTURE_SKEW_MS, window["name"])
