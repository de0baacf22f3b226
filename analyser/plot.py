"""Draws a video's course with matplotlib: each window's offset from the leading window and its
scan position against the reference window's over the video's time, stutters marked, and where
sync was lost."""

import matplotlib

matplotlib.use("Agg")  # files only: no display is needed or used

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402


def write(path, result):
    figure, (offsets, scans) = plt.subplots(2, 1, sharex=True, figsize=(10, 6.5))
    reference = next((w for w in result.windows if w.name == result.reference
                      and w.timeline is not None), None)
    for window in result.windows:
        seconds = window.moments / 1000.0
        line, = offsets.plot(seconds, window.offsets, ".", markersize=2,
                             label=f"{window.name}")
        if window.timeline is not None and reference is not None:
            # Where its scan stands against the reference's at each frame: level while the
            # two refresh in step, sloping with drift, turning over at each slip.
            relative = np.mod(window.timeline.scan(window.moments)
                              - reference.timeline.scan(window.moments) + 0.5, 1.0) - 0.5
            scans.plot(seconds, relative, ".", markersize=2, color=line.get_color())
        for stutter in window.stutters:
            for axis in (offsets, scans):
                axis.axvline(stutter.moment_ms / 1000.0, color=line.get_color(),
                             linestyle="--", linewidth=0.8)
    for start, length in result.lost:
        for axis in (offsets, scans):
            axis.axvspan(start / 1000.0, (start + length) / 1000.0, color="red", alpha=0.08)
    offsets.set_ylabel("ms behind the leading window")
    offsets.legend(loc="upper right", fontsize="small", markerscale=4)
    offsets.set_title("offset (dots: frames; dashes: stutters; red: sync lost)")
    scans.set_ylabel("scan position against\nthe reference, refreshes")
    scans.set_ylim(-0.5, 0.5)
    scans.set_xlabel("video time, s")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
