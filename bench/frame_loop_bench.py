"""Frame-loop benchmark of the Windows program under Wine, on one virtual display, side by side.

1. Overhead: the tool's frame rate in mode N against reference_loop.exe, which makes the same
   GL calls but reads no clock and feeds no meter. Runs alternate, same window size; both are
   counted the same way, from a line every 100 frames.
2. Accuracy: the average rate the meter reports against an independent count, 100 frames per
   report line over the time between the lines as they arrive here.
3. Scale: total and per-window frame rates with 1, 2, 4 and 8 windows, and how far apart in time
   the bars of all windows are on a screenshot.

Run with scripts/bench.sh (which builds first); prints a Markdown report.
"""

import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("VARNEL_BUILD_DIR", os.path.join(ROOT, "build", "win"))

from harness import BUILD_DIR, WineSession, wait_until  # noqa: E402
from output_lines import REPORT, REPORT_FRAMES  # noqa: E402
from pattern_check import PERIOD, read_window  # noqa: E402

REFERENCE_EXE = os.path.join(BUILD_DIR, "bench", "reference_loop.exe")
WIDTH, HEIGHT = 400, 300
SECONDS = float(os.environ.get("BENCH_SECONDS", 5))
ROUNDS = int(os.environ.get("BENCH_ROUNDS", 10))
WARM_UP_REPORTS = 3


# Two-sided 95 % quantiles of Student's t for 1 to 30 degrees of freedom.
T_95 = [12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228, 2.201, 2.179,
        2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086, 2.080, 2.074, 2.069, 2.064,
        2.060, 2.056, 2.052, 2.048, 2.045, 2.042]


def mean_interval(values):
    """The 95 % confidence interval of the mean of values (at least two)."""
    half = T_95[min(len(values) - 1, len(T_95)) - 1] * statistics.stdev(values) / len(
        values) ** 0.5
    mean = statistics.mean(values)
    return mean - half, mean + half


def let_run(seconds):
    """The measurement itself: the windows draw for this long."""
    time.sleep(seconds)


def report_lines(run):
    """{(x, y): [(arrival time, reported average rate)]} of the tool's report lines."""
    found = {}
    for arrived, line in run.timed_lines():
        match = REPORT.fullmatch(line)
        if match:
            found.setdefault((int(match[1]), int(match[2])), []).append((arrived, float(match[3])))
    return found


def counted_rate(arrivals):
    """Frames per second by counting: 100 frames per line, over the time between the lines as
    they arrived here, after the first few lines of the run."""
    arrivals = arrivals[WARM_UP_REPORTS:]
    return REPORT_FRAMES * (len(arrivals) - 1) / (arrivals[-1] - arrivals[0])


def reported_rate(lines):
    """The meter's average over the same frames as counted_rate."""
    lines = lines[WARM_UP_REPORTS + 1:]
    return len(lines) * REPORT_FRAMES / sum(REPORT_FRAMES / average for _, average in lines)


def enough_lines(counts, windows):
    return len(counts) == windows and all(count > WARM_UP_REPORTS for count in counts)


def run_tool(session, windows):
    """Runs the tool with the given (x, y, width, height) windows in mode N for SECONDS; returns
    each window's (counted, reported) rate and the windows' sweep ranges on a screenshot."""
    run = session.launch(*[value for window in windows for value in (*window, "N")])
    session.wait_for_windows(len(windows), visible=True)
    wait_until(lambda: enough_lines([len(lines) for lines in report_lines(run).values()],
                                    len(windows)), 60, "reports from every window")
    let_run(SECONDS)
    image = session.screenshot()
    session.close_all(run)
    sweeps = [read_window(image, *window) for window in windows]
    lines = report_lines(run)
    rates = [(counted_rate([arrived for arrived, _ in lines[window[:2]]]),
              reported_rate(lines[window[:2]])) for window in windows]
    return rates, sweeps


def run_reference(session):
    run = session.launch(0, 0, WIDTH, HEIGHT, exe=REFERENCE_EXE)
    session.wait_for_windows(1, visible=True)
    wait_until(lambda: enough_lines([len(run.lines())], 1), 60, "frame lines")
    let_run(SECONDS)
    session.close_all(run)
    return counted_rate([arrived for arrived, _ in run.timed_lines()])


def grid(count, width=320, height=240, columns=4):
    return [(20 + (i % columns) * (width + 20), 20 + (i // columns) * (height + 20), width, height)
            for i in range(count)]


def main():
    session = WineSession().start()
    try:
        print(f"Frame-loop benchmark: {WIDTH}x{HEIGHT} windows in mode N, {SECONDS:g} s per run, "
              f"{ROUNDS} alternating rounds, Wine with Mesa llvmpipe on Xvfb, {os.cpu_count()} "
              "cores.\n")
        tool, reference, accuracy = [], [], []
        for _ in range(ROUNDS):
            [(counted, reported)], _ = run_tool(session, [(0, 0, WIDTH, HEIGHT)])
            tool.append(counted)
            accuracy.append(reported / counted)
            reference.append(run_reference(session))
        print("| measure | runs | median |")
        print("|---|---|---|")
        print(f"| tool, frames/s (counted) | {', '.join(f'{r:.0f}' for r in tool)} "
              f"| {statistics.median(tool):.0f} |")
        print(f"| reference loop, frames/s | {', '.join(f'{r:.0f}' for r in reference)} "
              f"| {statistics.median(reference):.0f} |")
        ratios = [t / r for t, r in zip(tool, reference)]
        print(f"| overhead ratio tool / reference, per round (target >= 0.97) | "
              f"{', '.join(f'{ratio:.3f}' for ratio in ratios)} "
              f"| {statistics.median(ratios):.3f} |")
        low, high = mean_interval(ratios)
        print(f"| overhead ratio, mean with its 95 % confidence interval | {len(ratios)} rounds "
              f"| {statistics.mean(ratios):.3f} ({low:.3f} to {high:.3f}) |")
        print(f"| accuracy ratio reported / counted (target 1 +- 0.01) | "
              f"{', '.join(f'{a:.4f}' for a in accuracy)} | {statistics.median(accuracy):.4f} |")

        print("\n| windows | total frames/s | per window frames/s | meter / count, worst "
              "| bars apart on screenshot |")
        print("|---|---|---|---|---|")
        for count in (1, 2, 4, 8):
            rates, sweeps = run_tool(session, grid(count))
            counted = [c for c, _ in rates]
            worst = max(abs(r / c - 1.0) for c, r in rates)
            spread = max(s.low for s in sweeps) - min(s.high for s in sweeps)
            apart_ms = max(spread, 0.0) / (2.0 / PERIOD) * 1000.0
            print(f"| {count} | {sum(counted):.0f} | {', '.join(f'{c:.0f}' for c in counted)} "
                  f"| {worst * 100:.2f} % | {apart_ms:.1f} ms |")
    finally:
        session.stop()


if __name__ == "__main__":
    main()
