"""The video analyser on a recording of the real tool: the virtual display filmed with ffmpeg's
x11grab while windows in different modes run; every window followed through the video and
named, with no offset larger than the tool's frame times allow."""

import os
import subprocess

from harness import BUILD_DIR, EndToEndTest, start_session, stop_session
from test_analyser import (CAPTURE_SKEW_MS, WINDOWS, assert_refresh_not_told,
                           inspect_every_window)

setUpModule = start_session
tearDownModule = stop_session


class AnalyserOnRecording(EndToEndTest):
    """The virtual display recorded into a video while the tool runs, as a camera would film
    a wall. Its frames are whole copies of the screen, with no scan-out to see."""

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

        result = inspect_every_window(self, path)
        for window in result["windows"]:
            self.assertGreater(window["frames_read"], 0.8 * 30 * self.SECONDS, window["name"])
            self.assertLessEqual(abs(window["offset_ms"]), CAPTURE_SKEW_MS, window["name"])
        assert_refresh_not_told(self, result)
