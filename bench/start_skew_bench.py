"""Start skew under Wine: how far apart in time eight windows become visible after the start,
for the tool (whose window threads poll the start flag every millisecond) and for
start_reference.exe (eight threads released at once by a condition variable). The moments are
those at which the X server maps each window, seen by x11_probe on the same virtual display.
The reference tells how much of the skew is the platform's.

    /usr/bin/python3 bench/start_skew_bench.py      (scripts/bench.sh builds first)
"""

import os
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("VARNEL_BUILD_DIR", os.path.join(ROOT, "build", "win"))

from harness import BUILD_DIR, WineSession  # noqa: E402

REFERENCE_EXE = os.path.join(BUILD_DIR, "bench", "start_reference.exe")
WATCHER = os.path.join(ROOT, "build", "linux", "tests", "x11_probe")
COUNT, WIDTH, HEIGHT = 8, 200, 150
RUNS = int(os.environ.get("BENCH_SKEW_RUNS", 7))


def map_times(session, start):
    """Starts a watcher, then the program (start() returns its run); the moments in ms at which
    the COUNT windows were mapped, and the run."""
    watcher = subprocess.Popen([WATCHER, "map-times", str(COUNT), str(WIDTH), str(HEIGHT),
                                "60000"], env=session.env, stdout=subprocess.PIPE, text=True)
    try:
        assert watcher.stdout.readline().strip() == "watching"
        run = start()
        moments = [float(watcher.stdout.readline()) for _ in range(COUNT)]
    finally:
        watcher.kill()
        watcher.wait()
    return moments, run


def tool_skew(session):
    groups = [value for i in range(COUNT) for value in
              (20 + (i % 4) * (WIDTH + 20), 20 + (i // 4) * (HEIGHT + 20), WIDTH, HEIGHT, "N")]
    moments, run = map_times(session, lambda: session.launch(*groups))
    session.wait_for_windows(COUNT, visible=True)
    session.close_all(run)
    run.wait_exit()
    return max(moments) - min(moments)


def reference_skew(session):
    moments, run = map_times(session, lambda: session.launch(COUNT, WIDTH, HEIGHT,
                                                             exe=REFERENCE_EXE))
    run.wait_exit()
    return max(moments) - min(moments)


def summary(values):
    return f"{min(values):.1f} | {statistics.median(values):.1f} | {max(values):.1f}"


def main():
    session = WineSession().start()
    try:
        tool, reference = [], []
        for _ in range(RUNS):
            tool.append(tool_skew(session))
            reference.append(reference_skew(session))
    finally:
        session.stop()
    print(f"Start skew under Wine: {COUNT} windows of {WIDTH}x{HEIGHT}, the time from the first "
          f"to the last being mapped, {RUNS} runs each, alternating:\n")
    print("| program | min ms | median ms | max ms |")
    print("|---|---|---|---|")
    print(f"| tool (flag polled every 1 ms) | {summary(tool)} |")
    print(f"| reference (condition variable) | {summary(reference)} |")


if __name__ == "__main__":
    main()
