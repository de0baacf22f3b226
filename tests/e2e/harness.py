"""Drives the real program on a private virtual X display: the Windows executable under Wine,
or the native Linux one.

A session owns one Xvfb server (and, under Wine, the Wine server of the build folder's prefix).
It runs the tool and the probe helper there, and ends only what it started.
"""

import fcntl
import os
import select
import subprocess
import threading
import time
import unittest
from collections import namedtuple

PLATFORM = os.environ.get("VARNEL_PLATFORM", "wine")
BUILD_DIR = os.environ.get("VARNEL_BUILD_DIR", os.getcwd())
TOOL_EXE = os.environ.get("VARNEL_EXE", os.path.join(BUILD_DIR, "Varnel.exe"))
PROBE_EXE = os.environ.get("VARNEL_PROBE", os.path.join(BUILD_DIR, "tests", "probe.exe"))

SCREEN_WIDTH, SCREEN_HEIGHT = 1920, 1080
DEVNULL = subprocess.DEVNULL

# Generous bounds: Wine on a loaded two-core machine can be slow, and a bound only matters when
# something hangs.
STARTUP_TIMEOUT = 30.0
EXIT_TIMEOUT = 30.0
# What Wine's loader says when it could not start a program at all (its address space taken
# by chance): the program never ran.
WINE_START_FAILURES = (b"failed to map the shared user data",)

USAGE_CAPTION = "usage"

# A window as the probe reports it. thread is None where the platform does not tell.
WindowInfo = namedtuple(
    "WindowInfo", "id x y width height visible borderless taskbar pid thread title"
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
    """Starts Xvfb on a display number it picks itself, logging to xvfb.log in the build
    folder; returns the process and ':N'."""
    read_end, write_end = os.pipe()
    # -noreset: by default the server resets whenever its last client leaves, and a program
    # connecting at that moment fails to open the display.
    with open(os.path.join(BUILD_DIR, "xvfb.log"), "ab") as log:
        process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=DEVNULL, stdout=log, stderr=log,
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

    def __init__(self, session, command, env=None):
        self.args = command[1:]
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            command, env=env or session.env,
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
        """The output so far, with the carriage returns of Wine's runtime removed, and the
        arrival times of its lines."""
        with self._lock:
            data, times = bytes(self._stdout), list(self._line_times)
        return data.decode("utf-8", "replace").replace("\r\n", "\n"), times

    def output(self):
        """Everything written so far."""
        return self._snapshot()[0]

    def lines(self):
        """The complete lines written so far."""
        return self.output().split("\n")[:-1]

    def timed_lines(self):
        """(arrival time, line) for each complete line so far."""
        text, times = self._snapshot()
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


class Session:
    """A virtual display of its own, the tool run on it and the probe that finds and drives the
    tool's windows. The platform sessions below say how programs are started there."""

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        self.width, self.height = width, height
        self.runs = []
        self.probe_errors = ""
        self.xvfb = None
        self.display = None
        self.env = None

    # What the platform sessions provide.
    def command(self, exe, args):
        """The command line that runs one of our programs."""
        raise NotImplementedError

    def is_tool_process(self, command_line, environment):
        """Whether a Linux process, by its command line and environment, is the tool in this
        session."""
        raise NotImplementedError

    def start(self):
        self.xvfb, self.display = start_xvfb(self.width, self.height)
        self.env = dict(os.environ, DISPLAY=self.display)
        return self

    def stop(self):
        self.end_runs()
        self.stop_platform()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(EXIT_TIMEOUT)

    def stop_platform(self):
        """Ends what the platform session started besides the display."""

    def end_runs(self):
        """Ends whatever runs are still going, so that one failed test cannot spoil the next."""
        for run in self.runs:
            run.kill()
        self.runs = []

    def launch(self, *args, exe=TOOL_EXE, env=None, wrapper=()):
        """Runs one of our programs; env: variables to set for it besides the session's;
        wrapper: a command that runs it (unshare, say)."""
        return self.start_program([*wrapper, *self.command(exe, [str(arg) for arg in args])],
                                  env)

    def start_program(self, command, env=None):
        """Runs a command line as it stands, on the session's display."""
        run = ToolRun(self, command, dict(self.env, **(env or {})))
        self.runs.append(run)
        return run

    def probe(self, *args):
        """Runs the probe helper; returns its exit status and its output.

        The probe only looks, so one that hangs (Wine starting slowly on a loaded
        machine), or that Wine's loader could not start at all, is asked once more.
        """
        command = self.command(PROBE_EXE, [str(arg) for arg in args])
        try:
            result = self._run_probe(command)
            if result.returncode != 0 and any(
                    failure in result.stderr for failure in WINE_START_FAILURES):
                result = self._run_probe(command)
        except subprocess.TimeoutExpired:
            result = self._run_probe(command)
        self.probe_errors = result.stderr.decode("utf-8", "replace")
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def _run_probe(self, command):
        return subprocess.run(command, env=self.env, stdin=DEVNULL, capture_output=True,
                              timeout=STARTUP_TIMEOUT)

    def windows(self):
        """The tool's windows on the desktop, as the probe sees them."""
        status, text = self.probe("windows")
        assert status == 0, f"probe windows failed with {status}: {self.probe_errors[-3000:]}"
        found = []
        for line in text.splitlines():
            fields = line.split(" ", 10)
            found.append(WindowInfo(
                int(fields[0], 16), *map(int, fields[1:5]),
                *(field == "1" for field in fields[5:8]),
                int(fields[8]), None if fields[9] == "-" else int(fields[9]),
                fields[10] if len(fields) > 10 else "",
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
        try:
            return wait_until(ready, timeout, f"{count} {state} windows")
        except AssertionError as error:
            raise AssertionError(
                f"{error}; seen {self.windows()}; {self.describe_runs()}") from None

    def describe_runs(self):
        """How the runs of this test stand, for failure messages."""
        return "; ".join(
            f"{run.args}: " + ("running" if run.running() else
                               f"ended with {run.process.returncode}, standard error "
                               f"{run.stderr[-2000:].decode('utf-8', 'replace')!r}")
            for run in self.runs)

    def wait_for_window_gone(self, x, y, timeout=EXIT_TIMEOUT):
        wait_until(lambda: all((w.x, w.y) != (x, y) for w in self.windows()), timeout,
                   f"the window at {x},{y} to disappear")

    def send(self, command, x, y):
        """Sends "esc" (the Esc key) or "close" (a close request) to the tool window at x, y;
        returns whether there was a window to send it to."""
        if command == "esc":
            return self.send_key(x, y, "escape")
        return self.probe("close", x, y)[0] == 0

    def send_key(self, x, y, key):
        """Sends a key press (escape, a, return or space) to the tool window at x, y; returns
        whether there was a window to send it to."""
        return self.probe("key", x, y, key)[0] == 0

    def close_all(self, run):
        """Sends a close request to every tool window and waits for the run to end; returns its
        exit status."""
        status, _ = self.probe("close-all")
        assert status == 0, "probe close-all failed"
        return run.wait_exit()

    def tool_processes(self):
        """Linux process ids of the tool running in this session."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as file:
                    command_line = file.read()
                with open(f"/proc/{pid}/environ", "rb") as file:
                    environment = file.read().split(b"\0")
            except OSError:
                continue
            if self.is_tool_process(command_line, environment):
                found.append(int(pid))
        return found

    def _import_root(self, destination):
        return subprocess.run(
            ["import", "-display", self.display, "-window", "root", "-depth", "8", destination],
            capture_output=True, check=True, timeout=STARTUP_TIMEOUT,
        ).stdout

    def screenshot(self, keep=None):
        """The whole virtual display as an Image; when keep names a file, the same capture is
        saved there too, in the format its ending names (so that what a test checked is what
        it hands on)."""
        ppm = self._import_root("ppm:-")
        if keep:
            subprocess.run(["convert", "ppm:-", keep], input=ppm, capture_output=True,
                           check=True, timeout=STARTUP_TIMEOUT)
        return Image.from_ppm(ppm)

    def save_screenshot(self, path):
        """Saves the whole virtual display in the format the file name's ending names."""
        self._import_root(path)


class WineSession(Session):
    """The Windows program under Wine, in the Wine prefix of the build folder."""

    # What Wine's OpenGL offers, as seen on this kind of machine: wglSwapIntervalEXT always,
    # the swap group never; whether it accepts -1 depends on the X server.
    swap_interval_offered = True
    swap_group_offered = False
    tear_offered = None

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        super().__init__(width, height)
        self.prefix = os.path.join(BUILD_DIR, "wineprefix")

    def command(self, exe, args):
        return ["wine", exe, *args]

    def is_tool_process(self, command_line, environment):
        return (os.path.basename(TOOL_EXE).encode() in command_line
                and f"WINEPREFIX={self.prefix}".encode() in environment)

    def start(self):
        super().start()
        # Wine's error messages only: none in a good run, and the first clue in a bad one.
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all,err+all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        prepare_prefix(self.env, self.prefix)
        quiet = dict(env=self.env, stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL,
                     timeout=STARTUP_TIMEOUT)
        # A server left over from an interrupted run would still serve an old display.
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        # A persistent server, and Wine's background processes started with their output on
        # /dev/null: otherwise they would inherit, and hold open, the pipes of the first test.
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(self.command(PROBE_EXE, ["windows"]), **dict(quiet, timeout=120))
        return self

    def stop_platform(self):
        if self.env:
            quiet = dict(env=self.env, stdout=DEVNULL, stderr=DEVNULL, timeout=EXIT_TIMEOUT)
            subprocess.run(["wineserver", "-k"], **quiet)
            subprocess.run(["wineserver", "-w"], **quiet)

    def usage_text(self, run, caption=USAGE_CAPTION):
        """The text of the message box the run shows (by default its usage), left on screen
        until dismiss_usage."""
        wait_until(lambda: self.probe("msgbox", caption)[0] == 0, STARTUP_TIMEOUT,
                   f"the {caption} box")
        return self.probe("msgbox", caption)[1]

    def dismiss_usage(self, run, caption=USAGE_CAPTION):
        assert run.running(), f"the program must wait for OK in its {caption} box"
        assert self.probe("ok", caption)[0] == 0, f"no {caption} box to press OK in"


class X11Session(Session):
    """The native Linux program, drawing through GLX on the virtual display."""

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        super().__init__(width, height)
        self.glx_extensions = set()

    @property
    def swap_interval_offered(self):
        return bool({"GLX_EXT_swap_control", "GLX_MESA_swap_control"} & self.glx_extensions)

    @property
    def swap_group_offered(self):
        return "GLX_NV_swap_group" in self.glx_extensions

    @property
    def tear_offered(self):
        return {"GLX_EXT_swap_control", "GLX_EXT_swap_control_tear"} <= self.glx_extensions

    def command(self, exe, args):
        return [exe, *args]

    def is_tool_process(self, command_line, environment):
        return (command_line.split(b"\0")[0] == TOOL_EXE.encode()
                and f"DISPLAY={self.display}".encode() in environment)

    def start(self):
        super().start()
        # The sanitizers stay on, but not leak detection: Mesa's driver, unloaded at exit,
        # leaves allocations behind that no suppression can name.
        self.env["ASAN_OPTIONS"] = "detect_leaks=0"
        status, extensions = self.probe("glx-extensions")
        assert status == 0, "the probe cannot read the display's GLX extensions"
        self.glx_extensions = set(extensions.split())
        return self

    def usage_text(self, run, caption=USAGE_CAPTION):
        """The usage text (or another refusal) the run writes to standard error before it
        ends."""
        run.wait_exit()
        return run.stderr.decode("utf-8", "replace").removesuffix("\n")

    def dismiss_usage(self, run, caption=USAGE_CAPTION):
        pass


class EndToEndTest(unittest.TestCase):
    """An end-to-end test. The tests of a module share one session (see start_session); what a
    test leaves running is ended after it."""

    session = None

    def setUp(self):
        self.addCleanup(self.session.end_runs)

    def assert_clean_end(self, run, expected_status=0):
        """The run has ended with the status expected, its output framed by the opening empty
        line and the closing "finished." with an empty line after it; returns the lines in
        between."""
        status = run.wait_exit()
        self.assertEqual(status, expected_status, f"exit status {status}; standard error ends "
                         "with:\n"
                         f"{run.stderr[-3000:].decode('utf-8', 'replace')}")
        lines = run.lines()
        self.assertEqual(lines[0], "", "the output opens with an empty line")
        self.assertEqual(lines[-2:], ["finished.", ""], "the output ends with finished.")
        self.assertEqual(lines.count("finished."), 1)
        return lines[1:-2]


def start_session():
    """For setUpModule: one session for the module's tests, on the platform that
    VARNEL_PLATFORM names (wine, the default, or x11)."""
    EndToEndTest.session = SESSIONS[PLATFORM]().start()


def stop_session():
    """For tearDownModule."""
    EndToEndTest.session.stop()
    EndToEndTest.session = None


SESSIONS = {"wine": WineSession, "x11": X11Session}


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
