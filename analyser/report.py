"""The result as a JSON object and as a summary for people."""

import math

from analyser import machines
from analyser.photo import sweep_times_s

DIRECTIONS = {1: "bars moving right and up", -1: "bars moving left and down", 0: "unknown"}


def _number(value, digits=3):
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return None
    return round(float(value), digits)


def window_json(window):
    return {
        "name": window.name,
        "group": machines.arguments(window.group) if window.group else None,
        "machine": window.machine or None,
        "clock": window.clock,
        "size": [window.width, window.height],
        "size_estimated": window.size_estimated,
        "corners": [[_number(x, 1), _number(y, 1)] for x, y in window.corners],
        "sweep": {"f": _number(window.f, 5),
                  "time_s": [_number(t, 4) for t in sweep_times_s(window, window.direction)]},
        "lag_ms": _number(window.lag_ms, 2),
        "lag_frames": _number(window.lag_frames, 3),
        "lag_doubt_ms": _number(window.lag_doubt_ms, 2),
        "scan": _number(window.scan, 3),
        "scan_arc": None if window.scan_arc is None else [
            _number(end, 3) for end in window.scan_arc_ends],
        "breaks": [{"row": b.row, "jump_ms": _number(b.jump_ms, 2), "kind": b.kind}
                   for b in window.breaks],
        "warnings": window.warnings,
    }


def result_json(result, source):
    return {
        "photo": source,
        "refresh_hz": result.refresh_hz,
        "readout_ms": result.readout_ms,
        **result.judgement.json(),
        "sign_known": result.sign_known,
        "direction": DIRECTIONS[result.direction],
        "sizes_estimated": any(w.size_estimated for w in result.windows),
        "missing": result.missing,
        "lens": None if result.lens is None else {"k1": _number(result.lens.k1, 5),
                                                  "k2": _number(result.lens.k2, 5)},
        "windows": [window_json(w) for w in result.windows],
        "warnings": result.warnings,
    }


def _cell(value, form):
    return "-" if value is None or (isinstance(value, float) and math.isnan(value)) else \
        format(value, form)


def summary(result):
    """The table, one row per window, then the verdict and its reasons."""
    header = (f"{'window':<12} {'size':>11} {'sweep f':>8} {'lag ms':>7} {'frames':>6} "
              f"{'scan':>5} {'tears':>5}  notes")
    lines = [header]
    notes = []
    for window in result.windows:
        size = f"{window.width}x{window.height}" + ("~" if window.size_estimated else "")
        marks = []
        for warning in window.warnings:
            notes.append(warning)
            marks.append(str(len(notes)))
        lines.append(f"{window.name:<12} {size:>11} {window.f:>8.4f} "
                     f"{_cell(window.lag_ms, '7.1f'):>7} {_cell(window.lag_frames, '6.2f'):>6} "
                     f"{_cell(window.scan, '5.2f'):>5} {len(window.tears):>5}  "
                     f"{','.join(marks)}")
    lines.append("")
    if any(w.size_estimated for w in result.windows):
        lines.append("~ size estimated from the photo (give the tool's groups for exact sizes)")
    lines.append(f"lags: {'signed' if result.sign_known else 'sizes only, sign unknown'} "
                 f"({DIRECTIONS[result.direction]}), {result.refresh_hz:g} Hz")
    for number, note in enumerate(notes, 1):
        lines.append(f"{number}. {note}")
    return "\n".join(lines + verdict_lines(result))


def verdict_lines(result):
    """The notes, the groups not found, and the verdict with its reasons, of a photo's or a
    video's result."""
    lines = [f"note: {warning}" for warning in result.warnings]
    lines += [f"not found: {name}" for name in result.missing]
    return lines + result.judgement.lines()
