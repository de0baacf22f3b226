"""What the tool draws: a 2-pixel green frame and two 10-pixel bars whose offsets follow a
triangle wave of one shared clock. Plain functions of the sweep position f (0 to 1)."""

import numpy as np

BAR = 10  # bar thickness, window pixels
EDGE = 2  # frame thickness, window pixels
PERIOD_MS = 10000.0  # one sweep out and back
# f changes by this much per millisecond of the clock.
SWEEP_PER_MS = 2.0 / PERIOD_MS


def sweep(time_ms):
    """The sweep position f at a clock time: 1 at whole periods, 0 half-way."""
    phase = np.mod(np.asarray(time_ms, dtype=float) / PERIOD_MS, 1.0)
    return np.abs(2.0 * phase - 1.0)


def bar_offset(f, size):
    """The bar's offset in pixels from the left (vertical bar) or the bottom (horizontal bar) of
    a window of that size: trunc((size - 9) * f)."""
    return np.trunc((size - 9) * np.asarray(f, dtype=float)).astype(np.int64)


def sweep_from_offset(offset, size):
    """The sweep position that an offset (possibly fractional, as measured) stands for: the
    middle of the interval that truncation maps to the offset."""
    return (np.asarray(offset, dtype=float) + 0.5) / (size - 9)


def times_in_sweep_ms(f):
    """The two times within the period at which the sweep is at f: on the way down (bars
    moving left and down) and on the way back."""
    return (0.5 * (1.0 - f) * PERIOD_MS, 0.5 * (1.0 + f) * PERIOD_MS)
