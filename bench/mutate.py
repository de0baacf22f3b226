"""A mutation check of the test suite: deliberate faults, each a small edit of a product file,
applied one at a time to a scratch copy of the tree (never the working tree). For each, the
tests that should catch it are built and run, and the table says whether they did.

    /usr/bin/python3 bench/mutate.py [--keep DIR]

Runs on demand, not in CI: a few minutes (one build, then an incremental build per fault).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UNIT = "unit"  # the GoogleTest unit tests


@dataclass
class Fault:
    name: str
    path: str
    edits: list  # (text in the file, what it becomes)
    tests: list  # UNIT, or CTest names of end-to-end modules


FAULTS = [
    Fault("meter keeps its longest interval across reports", "frame/refresh_meter.cpp",
          [("        frameCount = 0;\n        longestInterval = 0.0;", "        frameCount = 0;")],
          [UNIT]),
    Fault("meter started before the start gate", "window/window_life.h",
          [("    waitForStart();\n    window.show();\n    RefreshMeter meter;\n"
            "    meter.start(monotonicNanoseconds());\n",
            "    RefreshMeter meter;\n    meter.start(monotonicNanoseconds());\n"
            "    waitForStart();\n    window.show();\n")], [UNIT]),
    Fault("pattern time from the window's own start", "window/window_life.h",
          [("    while (window.handleEvents()) {",
            "    const int64_t started = monotonicNanoseconds();\n"
            "    while (window.handleEvents()) {"),
           ("window.presentFrame(nanosecondsToSeconds(monotonicNanoseconds()));",
            "window.presentFrame(nanosecondsToSeconds(monotonicNanoseconds() - started));")],
          [UNIT]),
    Fault("pattern time frozen at the first frame", "window/window_life.h",
          [("window.presentFrame(nanosecondsToSeconds(monotonicNanoseconds()));",
            "static const double first = nanosecondsToSeconds(monotonicNanoseconds());\n"
            "        window.presentFrame(first);")], [UNIT]),
    Fault("pattern time read before the clear", "window/window_life.h",
          [("        window.clearFrame();\n"
            "        window.presentFrame(nanosecondsToSeconds(monotonicNanoseconds()));",
            "        const double t = nanosecondsToSeconds(monotonicNanoseconds());\n"
            "        window.clearFrame();\n        window.presentFrame(t);")], [UNIT]),
    Fault("swap set-up after the shared lock is released", "window/window_life.h",
          [("    std::lock_guard<std::mutex> lock(globalMutex);",
            "    std::unique_lock<std::mutex> lock(globalMutex);"),
           ("    auto extensions = window.swapExtensions();",
            "    lock.unlock();\n    auto extensions = window.swapExtensions();")], [UNIT]),
    Fault("report's average rate off by one frame", "frame/refresh_meter.cpp",
          [("1.0 / (intervalSum / REPORT_FRAMES)", "1.0 / (intervalSum / (REPORT_FRAMES - 1))")],
          [UNIT]),
    Fault("closing line without its full stop", "app/launch.h",
          [('std::cout << "finished." << std::endl', 'std::cout << "finished" << std::endl')],
          [UNIT]),
    Fault("start gate never opened after the delay", "app/launch.h",
          [("        std::this_thread::sleep_for(startDelay);\n        startFlag.store(true);",
            "        std::this_thread::sleep_for(startDelay);")], [UNIT]),
    Fault("usage rule accepts a partial group", "app/window_groups.cpp",
          [("argc % ARGUMENTS_PER_GROUP != 1", "argc % ARGUMENTS_PER_GROUP == 0")], [UNIT]),
    Fault("exit status 0 after a lost display connection", "app/x11_main.cpp",
          [("        std::_Exit(1);", "        std::_Exit(0);")], ["e2e.x11.stress"]),
    Fault("any client message with WM_DELETE_WINDOW closes a window", "window/x11_window.cpp",
          [("event.xclient.message_type == protocols &&", "")], ["e2e.x11.stress"]),
    Fault("swap interval set without the extension offered", "gl/glx_swap_extensions.cpp",
          [('    if (offers("GLX_EXT_swap_control"))\n        return setIntervalEXT(interval);',
            "    return setIntervalEXT(interval);")], [UNIT]),
    Fault("GLX swap set-up left out", "gl/glx_swap_extensions.cpp",
          [("std::optional<bool> GlxSwapExtensions::setSwapInterval(int interval)\n{\n",
            "std::optional<bool> GlxSwapExtensions::setSwapInterval(int interval)\n{\n"
            "    return std::nullopt;\n")], [UNIT]),
    Fault("negative swap interval tried without the tear extension",
          "gl/glx_swap_extensions.cpp",
          [('    if (interval < 0 && !offers("GLX_EXT_swap_control_tear"))\n'
            '        return false;\n', "")], [UNIT]),
    Fault("WGL lookup keeps the drivers' sentinel values", "gl/extension_list.cpp",
          [("return address >= -1 && address <= 3;", "return address == 0;")], [UNIT]),
]


def run(command, cwd, timeout=900):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout)


def scratch_copy(destination):
    """The tracked files of the working tree, as they are now, in destination."""
    files = run(["git", "ls-files", "-z"], ROOT).stdout.split("\0")
    for name in filter(None, files):
        target = os.path.join(destination, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(ROOT, name), target)


def build(tree, folder):
    done = run(["cmake", "--build", folder, "-j", str(os.cpu_count() or 2)], tree)
    return done.returncode == 0


def caught(tree, folder, fault):
    """Whether the fault's tests fail (or the build breaks, which also catches it)."""
    if not build(tree, folder):
        return True, "build broke"
    for test in fault.tests:
        if test == UNIT:
            done = run([os.path.join(folder, "tests", "unit_tests"), "--gtest_brief=1"], tree)
        else:
            done = run(["ctest", "--test-dir", folder, "-R", f"^{test}$"], tree)
        if done.returncode != 0:
            return True, test
    return False, ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keep", help="build the scratch copy here and keep it")
    args = parser.parse_args()
    tree = args.keep or tempfile.mkdtemp(prefix="varnel-mutate-")
    try:
        scratch_copy(tree)
        folder = os.path.join(tree, "build", "mutate")
        configure = run(["cmake", "-S", tree, "-B", folder, "-DCMAKE_BUILD_TYPE=Debug"], tree)
        if configure.returncode != 0 or not build(tree, folder):
            sys.exit("mutate: the unchanged tree does not build")
        results = []
        for fault in FAULTS:
            path = os.path.join(tree, fault.path)
            with open(path) as file:
                original = file.read()
            changed = original
            for old, new in fault.edits:
                if old not in changed:
                    sys.exit(f"mutate: the edit for '{fault.name}' no longer applies")
                changed = changed.replace(old, new, 1)
            with open(path, "w") as file:
                file.write(changed)
            try:
                found, by = caught(tree, folder, fault)
            finally:
                with open(path, "w") as file:
                    file.write(original)
            results.append((fault.name, found, by))
            print(f"{'caught' if found else 'MISSED':<7} {fault.name}{f' ({by})' if by else ''}",
                  flush=True)
        print(f"{sum(found for _, found, _ in results)} of {len(results)} faults caught")
    finally:
        if not args.keep:
            shutil.rmtree(tree, ignore_errors=True)


if __name__ == "__main__":
    main()
