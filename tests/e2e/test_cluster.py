"""Windows of two machines on one wall. Two runs of the tool share the virtual display, each with
a monotonic clock of its own, hours apart (a Linux time namespace), while the wall clock is
shared as a time service would keep it: with VARNEL_CLOCK=system their bars agree and the
analyser judges them as one clock; without, it says that each runs on a clock of its own.

Machine a is the program under test (under Wine, the Windows one); machine b is the Linux one."""

import json
import os
import subprocess
import unittest

from harness import (BUILD_DIR, PLATFORM, TOOL_EXE, EndToEndTest, start_session, stop_session,
                     wait_until)
from pattern_check import PatternError, read_window
from test_analyser import CAPTURE_SKEW_MS, ROOT
from test_pattern import FRAME_SKEW_SECONDS, SCREENSHOTS, SWEEP_PER_SECOND

# On the one display both machines' desktops lie at 0,0 of the wall.
MACHINES = {"a": [(40, 40, 640, 400, "N"), (760, 40, 560, 420, "N")],
            "b": [(40, 520, 800, 450, "N")]}
# Seconds each machine's monotonic clock runs ahead: 10797 s apart, 7 s of a 10 s sweep.
MONOTONIC_OFFSETS = {"a": 7203, "b": 18000}
PEER_EXE = os.environ.get("VARNEL_PEER_EXE", TOOL_EXE if PLATFORM == "x11" else "")
SAME_SWEEP = SWEEP_PER_SECOND * FRAME_SKEW_SECONDS
# Sweep positions this far apart cannot come from one clock on a busy machine. Clocks 7 s apart
# give positions as near as this only for a moment, now and then.
APART_SWEEP = 3 * SAME_SWEEP
APART_SCREENSHOTS = 10


def time_namespaces_work():
    try:
        return subprocess.run(["unshare", "--time", "--monotonic", "1", "true"],
                              capture_output=True, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def arguments(windows):
    return [str(value) for window in windows for value in window]


def analyser_groups():
    words = []
    for name, windows in MACHINES.items():
        words += ["--machine", name, *arguments(windows)]
    return words + [f"--place={name}=0,0" for name in MACHINES]


def all_windows():
    return [window for windows in MACHINES.values() for window in windows]


setUpModule = start_session
tearDownModule = stop_session


@unittest.skipUnless(time_namespaces_work(), "Linux time namespaces (unshare --time) are not "
                     "available here: the machines of a cluster cannot be stood in for")
@unittest.skipUnless(PEER_EXE and os.path.exists(PEER_EXE), "the Linux program is not built "
                     f"(VARNEL_PEER_EXE: {PEER_EXE!r}), so it cannot be the second machine")
class TwoMachines(EndToEndTest):
    def launch_machines(self, clock):
        env = {"VARNEL_CLOCK": clock} if clock else {}
        wrapper = ["unshare", "--time", "--monotonic"]
        runs = {}
        for name, exe in (("a", TOOL_EXE), ("b", PEER_EXE)):
            offset = [*wrapper, str(MONOTONIC_OFFSETS[name])]
            if exe == TOOL_EXE:
                runs[name] = self.session.launch(*arguments(MACHINES[name]), env=env,
                                                 wrapper=[] if PLATFORM == "wine" else offset)
            else:
                runs[name] = self.session.start_program(
                    [*offset, exe, *arguments(MACHINES[name])],
                    dict(env, ASAN_OPTIONS="detect_leaks=0"))
        return runs

    def end_machines(self, runs):
        if PLATFORM == "x11":
            self.session.probe("close-all")
            for run in runs.values():
                self.assert_clean_end(run)
        else:  # the Wine probe sees only the Windows program's windows
            self.session.close_all(runs["a"])
            self.assert_clean_end(runs["a"])
            runs["b"].kill()

    def screenshot(self, path, settles, tries=SCREENSHOTS):
        """Saves a screenshot on which every window shows the pattern and settles(spread) holds
        for the spread of their sweep positions, trying up to tries; returns that spread."""
        spreads = []

        def drawn():
            image = self.session.screenshot(keep=path)
            try:
                sweeps = [read_window(image, *window[:4]) for window in all_windows()]
            except PatternError:
                return False
            spreads.append(max(s.low for s in sweeps) - min(s.high for s in sweeps))
            return settles(spreads[-1]) or len(spreads) >= tries

        wait_until(drawn, 30, "every window of both machines to show the pattern",
                   interval=0.2)
        return spreads[-1]

    def inspect(self, path):
        done = subprocess.run([os.path.join(ROOT, "scripts", "inspect.sh"), "--json", path,
                               *analyser_groups()], capture_output=True, text=True,
                              timeout=300)
        self.assertIn(done.returncode, (0, 3, 4), done.stderr)
        result = json.loads(done.stdout)
        self.assertEqual(sorted(w["name"] for w in result["windows"]), sorted(
            f"{name}/{x},{y}" for name, windows in MACHINES.items() for x, y, *_ in windows))
        return result

    def test_on_the_system_clock_the_machines_draw_one_pattern(self):
        runs = self.launch_machines("system")
        path = os.path.join(BUILD_DIR, "cluster-screenshot.png")
        spread = self.screenshot(path, lambda spread: spread <= SAME_SWEEP)
        video = os.path.join(BUILD_DIR, "cluster-recording.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-f", "x11grab", "-framerate",
                        "30", "-video_size", f"{self.session.width}x{self.session.height}",
                        "-i", self.session.display, "-t", "2", "-c:v", "libx264", "-preset",
                        "ultrafast", "-crf", "18", "-pix_fmt", "yuv420p", video],
                       check=True, timeout=60, env=self.session.env)
        self.end_machines(runs)
        self.assertLessEqual(spread, SAME_SWEEP, "the machines' bars stand apart")

        photo = self.inspect(path)
        for window in photo["windows"]:
            self.assertEqual(window["clock"], 0, window)
            self.assertLessEqual(window["lag_ms"], CAPTURE_SKEW_MS, window)
        self.assertIn("machines a, b are on one clock", " ".join(photo["warnings"]))
        recording = self.inspect(video)
        for window in recording["windows"]:
            self.assertFalse(window["own_clock"], window)
            self.assertLessEqual(abs(window["offset_ms"]), CAPTURE_SKEW_MS, window)

    @unittest.skipIf(PLATFORM == "wine", "the Linux programs alone have monotonic clocks set "
                     "apart by a known amount")
    def test_on_their_own_clocks_no_lag_is_given_across_the_machines(self):
        runs = self.launch_machines(None)
        path = os.path.join(BUILD_DIR, "cluster-own-clocks.png")
        spread = self.screenshot(path, lambda spread: spread >= APART_SWEEP, APART_SCREENSHOTS)
        self.end_machines(runs)
        self.assertGreaterEqual(spread, APART_SWEEP, "the machines' clocks are hours apart")

        result = self.inspect(path)
        # Within a machine the screenshot may catch its windows a frame apart (see
        # assert_refresh_not_told); across machines it gives no lag at all.
        if result["verdict"] == "not in sync":
            self.assertTrue(all("behind" in reason for reason in result["reasons"]),
                            result["reasons"])
        else:
            self.assertEqual(result["verdict"], "cannot tell", result["reasons"])
        clocks = {w["machine"]: w["clock"] for w in result["windows"]}
        self.assertNotEqual(clocks["a"], clocks["b"], result["windows"])
        self.assertTrue(any("runs on a clock of its own" in u["what"]
                            for u in result["unsettled"]), result["unsettled"])
        for window in result["windows"]:
            self.assertLessEqual(window["lag_ms"], CAPTURE_SKEW_MS, window)
