"""Reads the bars from a window's samples (rows x columns of greenness on a grid of window
coordinates): where the vertical bar stands in every row, and where the horizontal bar is.

Positions are offsets as the tool draws them, in window pixels: the vertical bar's left edge
from the window's left, the horizontal bar's lower edge from the window's bottom.
"""

from dataclasses import dataclass

import cv2
import numpy as np

from analyser.pattern import BAR, EDGE

SEARCH_PX = 40  # how far from its typical place the vertical bar is looked for in a row
# Both bars show one sweep position: the horizontal bar is looked for within this share of the
# window's height of where the vertical bar puts it (a frame line lit across the width, with an
# outline a few pixels off, may pose as it elsewhere).
NEAR_EXPECTED = 0.1


@dataclass
class VerticalBar:
    offset: np.ndarray  # per sampled row, NaN where the bar cannot be read
    width: np.ndarray  # measured width, window pixels, NaN where clipped or unread
    clipped: np.ndarray  # per row: the bar runs into the frame's left or right edge
    hidden: np.ndarray  # per row: no bar stands out (glare, the horizontal bar's rows)


@dataclass
class HorizontalBar:
    offset: float  # NaN when not found
    rows: tuple  # first and last window row it covers, for leaving them out elsewhere
    clipped: bool


def box_filter(profiles, size):
    """Mean over a sliding window of size samples along the last axis (rows of a 2-D array),
    centred, the ends repeated outwards."""
    profiles = np.atleast_2d(profiles).astype(np.float32, copy=False)
    return cv2.blur(profiles, (size, 1), borderType=cv2.BORDER_REPLICATE)


def half_level_edges(profiles, centres, half, reach):
    """Where each profile (one per row) falls below half on either side of its centre index:
    (left, right) in fractional sample indexes, found within reach samples. NaN where the
    profile stays above half that far."""
    count, length = profiles.shape
    offsets = np.arange(reach + 1)
    edges = []
    for sign in (-1, 1):
        index = np.clip(centres[:, None] + sign * offsets[None, :], 0, length - 1)
        values = np.take_along_axis(profiles, index, axis=1)
        below = values < half[:, None]
        first = np.argmax(below, axis=1)
        found = below[np.arange(count), first] & (first > 0)
        inner = np.take_along_axis(values, np.maximum(first - 1, 0)[:, None], axis=1)[:, 0]
        outer = values[np.arange(count), first]
        fraction = (inner - half) / np.maximum(inner - outer, 1e-6)
        position = centres + sign * (first - 1 + np.clip(fraction, 0, 1))
        edges.append(np.where(found, position, np.nan))
    return edges[0], edges[1]


LEVEL_STEP = 4  # row levels are taken from every this many samples of a row


def row_levels(samples, step=LEVEL_STEP):
    """The median of every step-th sample of each row (a quarter of the work of all of them):
    the panel's level in a row the horizontal bar does not cross, the bar's in one it does."""
    return np.median(samples[:, ::step], axis=1)


def read_vertical_bar(samples, width, level, levels=None, per_pixel=None, first_column=0):
    """The vertical bar in every sampled row. level is the greenness of a lit bar; levels the
    samples' row_levels, where already known. The samples span the window's width, or, given
    per_pixel (samples per window pixel), a band of it from sample index first_column on."""
    rows, columns = samples.shape
    per_pixel = columns / width if per_pixel is None else per_pixel
    # Most of a row is dark panel: its level is its background.
    background = row_levels(samples) if levels is None else levels
    box = box_filter(samples, max(1, int(round(BAR * per_pixel))))
    # The bar stands at nearly the same place in every row (a few frames' motion apart at the
    # most); looking only near its typical place keeps glare and the frame from posing as it.
    typical = np.median(np.argmax(box, axis=1))
    first = max(int(np.ceil(typical - SEARCH_PX * per_pixel)), 0)
    last = int(np.floor(typical + SEARCH_PX * per_pixel)) + 1
    centre = first + np.argmax(box[:, first:last], axis=1)
    peak = np.take_along_axis(samples, centre[:, None], axis=1)[:, 0]
    # Glare lights the panel and pales the bar over part of the photo: judge each row's bar
    # above its own background against the window's own bar.
    own_level = min(level, float(np.median(peak - background)))
    hidden = peak - background < 0.35 * own_level
    half = background + (peak - background) / 2
    reach = int(np.ceil((BAR + 8) * per_pixel)) + 4
    left, right = half_level_edges(samples, centre, half, reach)
    # Sample index i stands for window u = (first_column + i + 0.5) / per_pixel; a half-level
    # crossing between two samples is the edge.
    left_u = (first_column + left + 0.5) / per_pixel
    right_u = (first_column + right + 0.5) / per_pixel
    margin = EDGE + 1.0
    at_left = ~(left_u > margin)
    at_right = ~(right_u < width - margin)
    middle = (left_u + right_u - BAR) / 2
    offset = np.where(at_left, right_u - BAR, np.where(at_right, left_u, middle))
    clipped = (at_left | at_right) & ~hidden
    measured_width = np.where(clipped, np.nan, right_u - left_u)
    # A frame edge taken for the bar (the bar itself hidden) gives an offset off the sweep.
    off_sweep = ~((offset > -1.5) & (offset < width - 9 + 1.5))
    offset = np.where(hidden | (at_left & at_right) | off_sweep, np.nan, offset)
    return VerticalBar(offset, measured_width, clipped, hidden)


def read_horizontal_bar(levels, height, level, v, expected=None):
    """The horizontal bar: the rows whose median over the window's width is lit (levels, the
    samples' row_levels); looked for within NEAR_EXPECTED of the height from the offset
    expected, where given."""
    rows = len(levels)
    per_pixel = rows / height
    background = np.median(levels)
    box = box_filter(levels[None, :], max(1, int(round(BAR * per_pixel))))[0]
    if expected is not None and not np.isnan(expected):
        far = np.abs(height - v - BAR / 2 - expected) > NEAR_EXPECTED * height
        box = np.where(far, -np.inf, box)
    centre = int(np.argmax(box))
    peak = levels[centre]
    if peak - background < 0.3 * level:
        return HorizontalBar(np.nan, (0, -1), False)
    half = np.array([background + (peak - background) / 2])
    reach = int(np.ceil((BAR + 8) * per_pixel)) + 4
    top, bottom = half_level_edges(levels[None, :], np.array([centre]), half, reach)
    top_v, bottom_v = (top[0] + 0.5) / per_pixel, (bottom[0] + 0.5) / per_pixel
    margin = EDGE + 1.0
    clipped = not (top_v > margin and bottom_v < height - margin)
    if not top_v > margin:
        top_v = bottom_v - BAR
    elif not bottom_v < height - margin:
        bottom_v = top_v + BAR
    centre_v = (top_v + bottom_v) / 2
    spread = BAR / 2 + 3 / per_pixel
    covered = (int(np.searchsorted(v, centre_v - spread)),
               int(np.searchsorted(v, centre_v + spread)))
    return HorizontalBar(height - centre_v - BAR / 2, covered, clipped)
