"""Drives the real Windows executable under Wine on a private virtual X display.

A WineSession owns one Xvfb server and the Wine server of the build folder's prefix. It starts
both, runs the tool and the probe helper in that prefix, and ends only what it started.
"""

import fcntl
import os
import select
import subprocess
import threading
import time
import unittest
from collections import namedtuple

BUILD_DIR = os.environ.get("VARNEL_BUILD_DIR", os.getcwd())
TOOL_EXE = os.environ.get("VARNEL_EXE", os.path.join(BUILD_DIR, "Varnel.exe"))
PROBE_EXE = os.environ.get("VARNEL_PROBE", os.path.join(BUILD_DIR, "tests", "probe.exe"))

SCREEN_WIDTH, SCREEN_HEIGHT = 1920, 1080
DEVNULL = subprocess.DEVNULL

# Generous bounds: Wine on a loaded two-core machine can be slow, and a bound only matters when
# something hangs.
STARTUP_TIMEOUT = 30.0
EXIT_TIMEOUT = 30.0

WS_POPUP = 0x80000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
WS_THICKFRAME = 0x00040000
WS_EX_APPWINDOW = 0x00040000

VK_RETURN = 13
VK_SPACE = 32

WindowInfo = namedtuple(
    "WindowInfo", "hwnd x y width height visible style exstyle pid tid title"
)


def wait_until(condition, timeout, what, interval=0.05):
    """Polls condition until it returns something true, which is returned; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def start_xvfb(width, height):
    """Starts Xvfb on a display number it picks itself; returns the process and ':N'."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
         "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL,
    )
    os.close(write_end)
    answer = b""
    deadline = time.monotonic() + STARTUP_TIMEOUT
    try:
        while not answer.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(remaining, 0))
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                process.kill()
                process.wait()
                raise RuntimeError("Xvfb did not report its display number")
            answer += chunk
    finally:
        os.close(read_end)
    return process, ":" + answer.decode().strip()


class ToolRun:
    """One run of the tool (or another program of ours): its process, and its standard output
    as it arrives."""

    def __init__(self, session, args, exe=TOOL_EXE):
        self.args = list(args)
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            ["wine", exe, *self.args], env=session.env,
            stdin=DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        )
        self._lock = threading.Lock()
        self._stdout = bytearray()
        self._line_times = []  # arrival time of each completed line
        self.stderr = b""
        self._readers = [
            threading.Thread(target=self._read_stdout, daemon=True),
            threading.Thread(target=self._read_stderr, daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    def _read_stdout(self):
        fd = self.process.stdout.fileno()
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                self.process.stdout.close()
                return
            now = time.monotonic()
            with self._lock:
                self._stdout += chunk
                self._line_times += [now] * chunk.count(b"\n")

    def _read_stderr(self):
        with self.process.stderr:
            self.stderr = self.process.stderr.read()

    def _snapshot(self):
        with self._lock:
            return bytes(self._stdout), list(self._line_times)

    def output(self):
        """Everything written so far, with the carriage returns of Wine's runtime removed."""
        return self._snapshot()[0].decode("utf-8", "replace").replace("\r\n", "\n")

    def lines(self):
        """The complete lines written so far."""
        return self.output().split("\n")[:-1]

    def timed_lines(self):
        """(arrival time, line) for each complete line so far."""
        data, times = self._snapshot()
        text = data.decode("utf-8", "replace").replace("\r\n", "\n")
        return list(zip(times, text.split("\n")[:-1]))

    def wait_for_line(self, matches, timeout=STARTUP_TIMEOUT, what="a line"):
        """Waits for a complete line for which matches(line) is true and returns it."""
        def find():
            return next((line for line in self.lines() if matches(line)), None)
        return wait_until(find, timeout, what)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        """Waits for the process to end and its output to be read; returns its exit status."""
        status = self.process.wait(timeout)
        for reader in self._readers:
            reader.join(timeout)
        return status

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()


class WineSession:
    """A virtual display and the Wine prefix of the build folder, for one group of tests."""

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        self.width, self.height = width, height
        self.prefix = os.path.join(BUILD_DIR, "wineprefix")
        self.runs = []
        self.xvfb = None
        self.display = None
        self.env = None

    def start(self):
        self.xvfb, self.display = start_xvfb(self.width, self.height)
        self.env = dict(
            os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display,
        )
        prepare_prefix(self.env, self.prefix)
        # A server left over from an interrupted run would still serve an old display.
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=DEVNULL, stderr=DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=DEVNULL, stderr=DEVNULL,
                       timeout=STARTUP_TIMEOUT)
        # A persistent server, and Wine's background processes started with their output on
        # /dev/null: otherwise they would inherit, and hold open, the pipes of the first test.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=DEVNULL, stderr=DEVNULL,
                       check=True, timeout=STARTUP_TIMEOUT)
        subprocess.run(["wine", PROBE_EXE, "windows"], env=self.env, stdin=DEVNULL,
                       stdout=DEVNULL, stderr=DEVNULL, timeout=120)
        return self

    def stop(self):
        self.end_runs()
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=DEVNULL, stderr=DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, stdout=DEVNULL, stderr=DEVNULL,
                           timeout=EXIT_TIMEOUT)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(EXIT_TIMEOUT)

    def end_runs(self):
        """Ends whatever runs are still going, so that one failed test cannot spoil the next."""
        for run in self.runs:
            run.kill()
        self.runs = []

    def launch(self, *args, exe=TOOL_EXE):
        run = ToolRun(self, [str(arg) for arg in args], exe)
        self.runs.append(run)
        return run

    def probe(self, *args):
        """Runs the probe helper; returns its exit status and its output."""
        result = subprocess.run(
            ["wine", PROBE_EXE, *[str(arg) for arg in args]], env=self.env, stdin=DEVNULL,
            capture_output=True, timeout=STARTUP_TIMEOUT,
        )
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def windows(self):
        """The tool's windows on the desktop, as the probe sees them."""
        status, text = self.probe("windows")
        assert status == 0, f"probe windows failed with {status}"
        found = []
        for line in text.splitlines():
            fields = line.split(" ", 10)
            found.append(WindowInfo(
                int(fields[0], 16), int(fields[1]), int(fields[2]), int(fields[3]),
                int(fields[4]), fields[5] == "1", int(fields[6], 16), int(fields[7], 16),
                int(fields[8]), int(fields[9]), fields[10] if len(fields) > 10 else "",
            ))
        return found

    def wait_for_windows(self, count, visible, timeout=STARTUP_TIMEOUT):
        """Waits until exactly count tool windows exist, all shown (or all hidden)."""
        def ready():
            found = self.windows()
            if len(found) == count and all(w.visible == visible for w in found):
                return found
            return None
        state = "shown" if visible else "hidden"
        return wait_until(ready, timeout, f"{count} {state} windows")

    def wait_for_window_gone(self, x, y, timeout=EXIT_TIMEOUT):
        wait_until(lambda: all((w.x, w.y) != (x, y) for w in self.windows()), timeout,
                   f"the window at {x},{y} to disappear")

    def send(self, command, x, y):
        """Posts 'esc' or 'close' to the tool window at x, y."""
        status, _ = self.probe(command, x, y)
        assert status == 0, f"no tool window at {x},{y} for {command}"

    def close_all(self, run):
        """Sends a close request to every tool window and waits for the run to end; returns its
        exit status."""
        status, _ = self.probe("close-all")
        assert status == 0, "probe close-all failed"
        return run.wait_exit()

    def message_box_text(self, caption, timeout=STARTUP_TIMEOUT):
        """Waits for the message box with that caption and returns its text."""
        wait_until(lambda: self.probe("msgbox", caption)[0] == 0, timeout,
                   f"the message box {caption!r}")
        return self.probe("msgbox", caption)[1]

    def _import_root(self, destination):
        return subprocess.run(
            ["import", "-display", self.display, "-window", "root", "-depth", "8", destination],
            capture_output=True, check=True, timeout=STARTUP_TIMEOUT,
        ).stdout

    def send_key(self, x, y, key):
        """Posts a key press with the given virtual-key code to the tool window at x, y."""
        status, _ = self.probe("key", x, y, key)
        assert status == 0, f"no tool window at {x},{y} for key {key}"

    def screenshot(self):
        """The whole virtual display as an Image."""
        return Image.from_ppm(self._import_root("ppm:-"))

    def save_screenshot(self, path):
        """Saves the whole virtual display in the format the file name's ending names."""
        self._import_root(path)


class WineTest(unittest.TestCase):
    """An end-to-end test. The tests of a module share one session (see start_session); what a
    test leaves running is ended after it."""

    session = None

    def setUp(self):
        self.addCleanup(self.session.end_runs)

    def assert_clean_end(self, run):
        """The run has ended with status 0, its output framed by the opening empty line and the
        closing "finished." with an empty line after it; returns the lines in between."""
        self.assertEqual(run.wait_exit(), 0)
        lines = run.lines()
        self.assertEqual(lines[0], "", "the output opens with an empty line")
        self.assertEqual(lines[-2:], ["finished.", ""], "the output ends with finished.")
        self.assertEqual(lines.count("finished."), 1)
        return lines[1:-2]


def start_session():
    """For setUpModule: one virtual display and Wine server for the module's tests."""
    WineTest.session = WineSession().start()


def stop_session():
    """For tearDownModule."""
    WineTest.session.stop()
    WineTest.session = None


def prepare_prefix(env, prefix):
    """Creates the Wine prefix once; concurrent callers wait for the first one."""
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    ready = os.path.join(prefix, "varnel-ready")
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(ready):
            return
        quiet = dict(env=env, stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL, timeout=300)
        subprocess.run(["wineboot", "-i"], check=True, **quiet)
        # The virtual display has no window manager, and Wine would wait two seconds for one to
        # withdraw every destroyed window. Unmanaged windows are placed exactly as asked and go
        # at once.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/t", "REG_SZ", "/d", "N", "/f"], check=True, **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        open(ready, "w").close()


class Image:
    """An RGB picture with 8-bit samples, read from a binary PPM."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    @classmethod
    def from_ppm(cls, data):
        tokens, position = [], 0
        while len(tokens) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            tokens.append(data[position:end])
            position = end
        magic, width, height, maximum = tokens[0], int(tokens[1]), int(tokens[2]), int(tokens[3])
        if magic != b"P6" or maximum != 255:
            raise ValueError(f"expected an 8-bit binary PPM, got {magic!r} with maximum {maximum}")
        pixels = data[position + 1:position + 1 + width * height * 3]
        return cls(width, height, pixels)

    def pixel(self, x, y):
        """(r, g, b) at x, y, counted from the top-left corner as the desktop counts."""
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])
