"""Reads the sync test pattern back from a screenshot, the way a person looks at a window: a black
field, a 2-pixel green frame, one 10-pixel vertical and one 10-pixel horizontal green bar, and
nothing else. From the bar positions it recovers the point of the sweep each window has drawn."""

from collections import namedtuple

GREEN = b"\x00\xff\x00"
BLACK = b"\x00\x00\x00"
BAR = 10
EDGE = 2
PERIOD = 10.0

# The sweep position f as far as one window's bars tell it: within [low, high].
SweepRange = namedtuple("SweepRange", "low high bar_x bar_y")


class PatternError(AssertionError):
    pass


def _full_lines(green, count):
    """Indexes i in range(count) for which green(i) holds."""
    return {i for i in range(count) if green(i)}


def _bar_offset(full, size):
    """The one bar offset (0 .. size - 9) whose 10 lines, clipped to the window, together with
    the two frame edges, make up exactly the full lines seen."""
    edges = set(range(EDGE)) | set(range(size - EDGE, size))
    matches = [offset for offset in range(0, size - BAR + 2)
               if full == edges | set(range(offset, min(offset + BAR, size)))]
    if len(matches) != 1:
        raise PatternError(f"expected one {BAR}-pixel bar, found full lines {sorted(full)}")
    return matches[0]


def read_window(image, x, y, width, height):
    """Checks the pattern of the window with that desktop rectangle and returns its SweepRange.

    Screen rows run downwards and GL rows upwards, so the horizontal bar's GL offset is counted
    from the window's bottom row.
    """
    rows = []
    for row in range(y, y + height):
        start = (row * image.width + x) * 3
        data = image.pixels[start:start + width * 3]
        pixels = [data[i:i + 3] for i in range(0, width * 3, 3)]
        others = {p for p in pixels if p != GREEN and p != BLACK}
        if others:
            raise PatternError(f"colours other than black and green at row {row}: {others}")
        rows.append([p == GREEN for p in pixels])

    full_columns = _full_lines(lambda c: all(r[c] for r in rows), width)
    full_rows_from_bottom = _full_lines(lambda r: all(rows[height - 1 - r]), height)
    bar_x = _bar_offset(full_columns, width)
    bar_y = _bar_offset(full_rows_from_bottom, height)

    for r in range(height):
        for c in range(width):
            if rows[r][c] and c not in full_columns and height - 1 - r not in full_rows_from_bottom:
                raise PatternError(f"stray green pixel at {x + c},{y + r}")

    # offset = trunc((size - 9) * f), so f lies in [offset, offset + 1) / (size - 9).
    low = max(bar_x / (width - 9), bar_y / (height - 9))
    high = min((bar_x + 1) / (width - 9), (bar_y + 1) / (height - 9))
    if low >= high:
        raise PatternError(f"the bars disagree: vertical at {bar_x}, horizontal at {bar_y}")
    return SweepRange(low, high, bar_x, bar_y)


def triangle(phase):
    """The sweep position at a phase (fraction of the period)."""
    return abs(2.0 * (phase % 1.0) - 1.0)


def phases_of(f):
    """The two phases within a period at which the sweep is at position f."""
    return ((1.0 - f) / 2.0, (1.0 + f) / 2.0)
