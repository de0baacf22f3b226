"""A video's result as a JSON object and as a summary for people."""

import math

import numpy as np

from analyser import machines
from analyser.report import _cell, _number, verdict_lines


def _seconds(values):
    return [_number(v / 1000.0, 3) for v in values]


def _course(window, duration_ms):
    """Per second of the video: the mean offset and the scan position at its middle."""
    seconds = []
    for second in range(int(math.ceil(duration_ms / 1000.0))):
        inside = (window.moments >= 1000 * second) & (window.moments < 1000 * (second + 1))
        offsets = window.offsets[inside] if window.offsets is not None else np.array([])
        offsets = offsets[~np.isnan(offsets)]
        scan = window.scan_at(np.array([1000 * second + 500.0]))
        seconds.append({"t": second,
                        "offset_ms": _number(np.mean(offsets), 2) if len(offsets) else None,
                        "scan": _number(scan[0], 3) if scan is not None else None})
    return seconds


def slip_every_s(window):
    if window.in_step or not window.drift:
        return None
    return 1.0 / abs(window.drift)


def window_json(window, duration_ms):
    return {
        "name": window.name,
        "group": machines.arguments(window.group) if not window.size_estimated else None,
        "machine": window.machine or None,
        "refresh_hz": _number(window.timeline.refresh_hz, 4) if window.timeline else None,
        "leader": window.leader,
        "clock": window.clock,
        "own_clock": window.clock != 0,
        "offset_ms": _number(window.offset_ms, 2),
        "offset_spread_ms": _number(window.offset_spread_ms, 2),
        "offset_doubt_ms": _number(window.offset_doubt_ms, 2),
        "drift_refreshes_per_s": _number(window.drift, 4),
        "drift_error": _number(window.drift_error, 4),
        "in_step": window.in_step,
        "slip_every_s": _number(slip_every_s(window), 2),
        "slips": _seconds(window.slips),
        "stutters": _seconds(s.moment_ms for s in window.stutters),
        "stutters_alone": _seconds(s.moment_ms for s in window.lone_stutters),
        "swap_locked": window.swap_locked,
        "refreshes_seen": _number(window.refreshes_seen, 3),
        "tears_per_s": _number(window.tears_per_s, 2),
        "tearing": window.tearing,
        "frames_read": len(window.moments),
        "per_second": _course(window, duration_ms),
    }


def result_json(result, source):
    return {
        "video": source,
        "frames": result.frames,
        "duration_s": _number(result.duration_ms / 1000.0, 3),
        "refresh_hz": result.refresh_hz,
        "readout_ms": _number(result.readout_ms, 2),
        "readout_source": result.readout_source,
        "reference": result.reference,
        **result.judgement.json(),
        "sync_lost": [{"from_s": _number(start / 1000, 3), "for_s": _number(length / 1000, 3)}
                      for start, length in result.lost],
        "seconds": [{"t": t, "in_sync": state, "reasons": reasons}
                    for t, state, reasons in result.seconds],
        "missing": result.missing,
        "windows": [window_json(w, result.duration_ms) for w in result.windows],
        "warnings": result.warnings,
    }


def _times(values):
    return ", ".join(f"{v / 1000:.2f}" for v in values) or "-"


def summary(result):
    """The table, one row per window, the moments of slips and stutters, then the verdict:
    over the whole video, when sync was lost, and second by second."""
    lines = [f"{'window':<12} {'Hz':>8} {'offset ms':>9} {'spread':>6} {'drift/s':>8} "
             f"{'slip every':>10} {'stutters':>8} {'tears/s':>7} {'locked':>6}"]
    for window in result.windows:
        hz = window.timeline.refresh_hz if window.timeline else float("nan")
        every = slip_every_s(window)
        locked = {True: "yes", False: "no", None: "-"}[window.swap_locked]
        own = "*" if window.clock != 0 else ""
        lines.append(f"{window.name + own:<12} {_cell(hz, '8.3f'):>8} "
                     f"{_cell(window.offset_ms, '9.2f'):>9} "
                     f"{_cell(window.offset_spread_ms, '6.2f'):>6} "
                     f"{_cell(window.drift, '+8.4f'):>8} "
                     f"{(f'{every:.1f} s' if every else 'none'):>10} "
                     f"{len(window.stutters):>8} {window.tears_per_s:>7.1f} {locked:>6}")
    lines.append("")
    if any(w.clock != 0 for w in result.windows):
        lines.append("* on a clock of its own (another machine): its offset is against the "
                     "windows of its own clock only")
    lines.append(f"{result.frames} frames, {result.duration_ms / 1000:.2f} s; camera readout "
                 f"{result.readout_ms:.1f} ms ({result.readout_source}); offsets are ms behind "
                 f"the leading window, drift is against window {result.reference}")
    for window in result.windows:
        if window.stutters:
            lines.append(f"window {window.name} stutters at (s): "
                         f"{_times(s.moment_ms for s in window.stutters)}"
                         f" (refreshes seen: {window.refreshes_seen:.0%})")
        if window.slips:
            lines.append(f"window {window.name} slips a frame at (s): {_times(window.slips)}")
    lines += verdict_lines(result)
    for start, length in result.lost:
        lines.append(f"  sync lost at {start / 1000:.2f} s for {length / 1000:.2f} s")
    marks = "".join({True: "+", False: "x", None: "?"}[state] for _, state, _ in result.seconds)
    lines.append(f"per second (+ in sync, x not, ? cannot tell): {marks}")
    return "\n".join(lines)
