"""From bar offsets per row to what a window was showing: the rows where its content changes
(breaks), the sweep position of each stretch of rows, and from those its content lead, its
scan-out position and which breaks are tears.

A display scans its rows out from the top once per refresh, so the rows above the scan-out
position show a newer frame than those below it: at the scan-out boundary the content above is
newer; at a tear (a swap during scan-out) the content below is newer.

Sweep positions f are fractions (0 to 1); rows are window rows (top row 0) or sampled row
indexes where a name says so; times are milliseconds.
"""

from dataclasses import dataclass, field

import numpy as np
from numpy.lib.stride_tricks import sliding_window_view

from analyser.pattern import SWEEP_PER_MS, sweep_from_offset

EDGE_ROWS_SHARE = 0.1  # of a window's rows, next to its top or bottom
MIN_JUMP_PX = 0.8  # smallest content change between rows that counts as a break
WANDER_SPREADS = 5.0  # nor one within this many spreads of the reading's wander
# A break that jumps by less than this share of a refresh is a tear, whichever way it points.
PART_OF_REFRESH = 0.6
# A change that shows this much larger at a coarser scale is spread beyond the finer one.
SPREAD_GROWTH = 1.3
SHARP_BAND = 0.03  # a break spread over more of the height than this is smeared
# A bar this much wider (a share of its usual width) shows two frames blended by the exposure.
BLEND_WIDTH_SHARE = 0.15
# A window whose content changes by a refresh give or take this share, under RAMP_STEP_SHARE of
# it at breaks, shows a smeared scan-out boundary.
RAMP_REFRESH_MARGIN = 0.4
RAMP_STEP_SHARE = 0.5
# Of a refresh, the share a display spends blanking between scan-outs on common timings (1125
# lines for 1080, 750 for 720).
BLANKING_SHARE = 0.04


@dataclass
class Break:
    index: int  # first sampled row below the break
    row: int  # first window row below the break
    jump_px: float  # bar offset above minus below, window pixels
    band_rows: int  # window rows over which the change is spread (a long exposure smears it)
    band_share: float  # the same as a share of the window's height
    jump_f: float = 0.0  # sweep position above minus below
    kind: str = ""  # "scan", "tear" or "unsure", once the direction of the sweep is known
    # the change runs on into the window's top or bottom rows (a smear cut off there), or is a
    # change in how an exposure blends two frames: of a size not known
    cut: bool = False
    # newer content above, as at the scan-out boundary, but not the boundary (classify_breaks)
    boundary_way: bool = False

    @property
    def jump_ms(self):
        return abs(self.jump_f) / SWEEP_PER_MS

    @property
    def smeared(self):
        """Spread over so many rows (a long exposure) that its size is only roughly known."""
        return self.band_share > SHARP_BAND or self.cut


@dataclass
class Segment:
    start: int  # sampled row indexes, end exclusive
    end: int
    offset: float  # mean bar offset, window pixels
    f: float = 0.0
    f_range: tuple = (0.0, 1.0)


@dataclass
class WindowReading:
    segments: list
    breaks: list
    noise_px: float  # spread of single-row offsets about their stretch's mean
    f_rows: np.ndarray = field(default=None)  # sweep position of every sampled row


def row_noise(offsets):
    """Robust spread of single-row offsets, from the differences of neighbouring rows."""
    steps = np.diff(offsets[~np.isnan(offsets)])
    if len(steps) < 2:
        return 0.0
    return float(1.4826 * np.median(np.abs(steps)) / np.sqrt(2))


def find_breaks(offsets, v, height, min_jump_px=MIN_JUMP_PX):
    """Breaks in a column of per-row bar offsets (NaN where unread): returns Break list, sorted
    from the top, and the row noise. Jumps under min_jump_px (window pixels) are not breaks."""
    valid = np.nonzero(~np.isnan(offsets))[0]
    values = offsets[valid]
    count = len(values)
    half = _break_reach(count)
    noise = row_noise(offsets)
    if count < 2 * half + 1:
        return [], noise
    centres = []
    taken = np.zeros(count, bool)
    # Sharp changes are placed at the finest scale; a change smeared by a long exposure over
    # many rows only stands out at a coarser one.
    scales = [h for h in (half, 3 * half, 8 * half) if 2 * h + 1 <= count]
    steps = [_median_steps(values, h) for h in scales]
    sizes = [np.abs(step) for step in steps]
    fine = sizes[0]
    for level, (scale, size) in enumerate(zip(scales, sizes)):
        threshold = max(min_jump_px, 6.0 * noise * np.sqrt(2.0 / scale))
        for i in np.argsort(-size):
            if size[i] < threshold:
                break
            if taken[max(0, i - half):i + half + 1].any():
                continue
            # At a coarser scale only what the finest does not show: a change spread wide.
            if scale > half and size[i] < 1.5 * fine[max(0, i - scale):i + scale + 1].max():
                continue
            near = np.arange(max(0, i - scale), min(count, i + scale + 1))
            plateau = near[size[near] >= 0.8 * size[i]]
            centre = int(round(plateau.mean()))
            centres.append((centre, _spread_scale(scales[level:], sizes[level:], centre)))
            taken[max(0, i - half):i + half + 1] = True
    breaks = []
    for first, last, scale, members in _ramps(sorted(centres), steps[0], 6 * half):
        found = [_step_between(values, v, valid, height, first, last, scale)]
        if found[0] is None and len(members) > 1:
            # A sharp change grouped with the bend of a tilted bar around it stands on its own.
            found = [_step_between(values, v, valid, height, c, c, half)
                     for c, s in members if s == half]
        for one in (f for f in found if f is not None):
            previous = breaks[-1] if breaks else None
            # One smeared change seen twice: the same sign, and within each other's smear.
            if previous and np.sign(previous.jump_px) == np.sign(one.jump_px) and \
                    one.row - previous.row <= previous.band_rows + one.band_rows:
                if abs(one.jump_px) > abs(previous.jump_px):
                    breaks[-1] = one
                continue
            breaks.append(one)
    return _above_wander(breaks, values, valid, half), noise


def _break_reach(count):
    """How many read rows, of count, either side of a change show it at the finest scale."""
    return max(4, int(0.025 * count))


def rows_without_boundary(offsets, frame_px):
    """The sampled rows (first, last index) between which a column of per-row bar offsets
    (window pixels, NaN unread) shows that no scan-out boundary lies: every stretch of its
    rows, as many as a break needs to show, shows one frame. The bar stands straight (an
    outline a little off may tilt it, by under half a refresh of motion, frame_px, over the
    rows) and no stretch strays from that line by a quarter of frame_px: a boundary smeared
    by a long exposure beyond what counts as a break still moves the rows below it a frame
    away, and where a tearing window's tears undo its jump over the rows, the stretches
    between them stand apart. Stretches that stray within EDGE_ROWS_SHARE of the rows from
    the top or the bottom are left out of the rows returned: a boundary the exposure smeared
    over the window's first or last rows. None where the column does not show that, or too
    few rows are read."""
    valid = np.nonzero(~np.isnan(offsets))[0]
    reach = _break_reach(len(valid))
    if len(valid) < 4 * reach:
        return None
    values = offsets[valid]
    line = np.polyfit(valid, values, 1)
    residual = values - np.polyval(line, valid)
    kept = np.abs(residual) <= max(3 * 1.4826 * np.median(np.abs(residual)), 1e-6)
    line = np.polyfit(valid[kept], values[kept], 1)
    stretches = np.median(sliding_window_view(values - np.polyval(line, valid), reach), axis=1)
    if abs(line[0]) * (valid[-1] - valid[0]) >= frame_px / 2:
        return None
    stray = np.nonzero(np.abs(stretches) >= frame_px / 4)[0]
    edge = int(EDGE_ROWS_SHARE * len(valid))
    first = max((k + 1 for k in stray if k < edge), default=0)
    last = min((k - 1 for k in stray if k >= len(stretches) - edge), default=len(stretches) - 1)
    if np.any((stray >= first) & (stray <= last)) or first > last:
        return None
    return int(valid[first + reach - 1]), int(valid[last])


def _above_wander(breaks, values, valid, half):
    """The breaks whose jumps stand out of how far the reading wanders between them, at the
    finest scale: a thin bar washed by glare drifts by pixels over tens of rows, which the
    row-to-row noise does not show. The wander is measured with the breaks' own jumps taken
    out, about its median (a tilted bar steps alike everywhere)."""
    if not breaks:
        return breaks
    level = values.copy()
    for found in breaks:
        level[np.searchsorted(valid, found.index):] += found.jump_px
    steps = _median_steps(level, half)[half:len(values) - half + 1]
    wander = 1.4826 * np.median(np.abs(steps - np.median(steps)))
    return [b for b in breaks if abs(b.jump_px) >= WANDER_SPREADS * wander]


def _step_between(values, v, valid, height, first, last, scale):
    """The break that a change found between indexes first and last of the read values, at
    scale, makes; None where a straight line explains the rows about it as well (a bend)."""
    count = len(values)
    centre = (first + last) // 2
    reach = scale + (last - first) // 2
    # The levels on either side, from rows clear of a smeared change.
    clear = scale // 4
    above = np.median(values[max(0, first - scale):max(1, first - clear)])
    below = np.median(values[min(last + clear, count - 1):last + scale])
    band = _band(values[max(0, first - 2 * scale):last + 2 * scale], above, below)
    if not _is_step(values[max(0, centre - 2 * reach - band):centre + 2 * reach + band],
                    min(centre, 2 * reach + band), band):
        return None
    boundary = (v[valid[centre - 1]] + v[valid[centre]]) / 2
    row_spacing = height / len(v)  # window rows per sampled row
    return Break(int(valid[centre]), int(round(boundary)), float(above - below),
                 int(round(band * row_spacing)), band * row_spacing / height)


def _spread_scale(scales, sizes, centre):
    """The scale that takes in the whole of a change found at the first of scales: a coarser
    one where the change it shows is much larger (a change smeared over more rows than the
    finer scale spans shows only part of its size there)."""
    best = 0
    for level in range(1, len(scales)):
        near = slice(max(0, centre - scales[best]), centre + scales[best] + 1)
        if sizes[level][near].max() < SPREAD_GROWTH * sizes[best][near].max():
            break
        best = level
    return scales[best]


def _median_steps(values, half):
    """At each index i: the median of the half values from i on, minus that of the half before
    (0 where either side is short)."""
    count = len(values)
    medians = np.median(sliding_window_view(values, half), axis=1)
    step = np.zeros(count)
    step[half:count - half + 1] = medians[half:] - medians[:count - 2 * half + 1]
    return step


def _ramps(centres, step, gap):
    """Groups neighbouring changes of the same sign into one: a change smeared over many rows
    (by a long exposure) may show as two. centres: sorted (index, scale) pairs; yields (first,
    last, largest scale, the pairs grouped)."""
    group = []
    for centre, scale in centres:
        if group and (centre - group[-1][0] > max(gap, scale, group[-1][1]) or np.sign(
                step[centre]) != np.sign(step[group[-1][0]])):
            yield group[0][0], group[-1][0], max(s for _, s in group), group
            group = []
        group.append((centre, scale))
    if group:
        yield group[0][0], group[-1][0], max(s for _, s in group), group


def _is_step(values, split, band):
    """Whether a level change at split explains values much better than a straight line: glare
    and compression bend the bar's reading smoothly; a change of content is a step, perhaps
    smeared over band rows (left out of both fits)."""
    positions = np.arange(len(values))
    outer = np.abs(positions - split) > band + 1
    before, after = outer & (positions < split), outer & (positions >= split)
    if before.sum() < 3 or after.sum() < 3:
        return True
    line = np.polyval(np.polyfit(positions[outer], values[outer], 1), positions[outer])
    line_error = np.sum((values[outer] - line) ** 2)
    step_error = np.sum((values[before] - np.mean(values[before])) ** 2) + np.sum(
        (values[after] - np.mean(values[after])) ** 2)
    return step_error < 0.5 * line_error


def _band(values, above, below):
    """How many rows lie between the two levels, well away from both: a smeared change."""
    low, high = sorted((above, below))
    margin = 0.25 * (high - low)
    return int(np.sum((values > low + margin) & (values < high - margin)))


def mark_blends_at_edges(breaks, widths):
    """Marks the first and the last break cut where the rows between it and the window's top
    or bottom show a bar much wider than the rows on its other side (or narrower): rows that
    blend two frames (an exposure that spanned the change), so that the change runs on into
    the window's edge, or is a change of the blend, by how much is not known. widths: the
    vertical bar's width per sampled row (NaN unread)."""
    if not breaks:
        return
    margin = _blend_margin(len(widths))
    bounds = [0] + [b.index for b in breaks] + [len(widths)]
    top, bottom = widths[:max(bounds[1] - margin, 0)], widths[bounds[-2] + margin:]
    # Each compared with as many rows across its break (a few at least), within the stretch.
    below_first = widths[bounds[1] + margin:bounds[2] - margin][:max(len(top), 5 * margin)]
    above_last = widths[bounds[-3] + margin:bounds[-2] - margin][-max(len(bottom), 5 * margin):]
    for found, edge, across in ((breaks[0], top, below_first), (breaks[-1], bottom, above_last)):
        edge, across = _median_or_nan(edge), _median_or_nan(across)
        if max(edge, across) > (1 + BLEND_WIDTH_SHARE) * min(edge, across):
            found.cut = True


def _blend_margin(rows):
    """How many sampled rows next to a break, of rows in all, may show a blend of both frames."""
    return max(2, int(0.01 * rows))


def _median_or_nan(values):
    values = values[~np.isnan(values)]
    return float(np.median(values)) if len(values) else float("nan")


def read_segments(offsets, breaks, width, noise):
    """The stretches of rows between breaks, each with its mean offset and sweep position."""
    bounds = [0] + [b.index for b in breaks] + [len(offsets)]
    segments = []
    for start, end in zip(bounds[:-1], bounds[1:]):
        margin = _blend_margin(len(offsets))
        first = start + margin if start else start
        last = end - margin if end < len(offsets) else end
        inner = offsets[first:last]
        inner = inner[~np.isnan(inner)]
        if len(inner) == 0:
            inner = offsets[start:end][~np.isnan(offsets[start:end])]
        if len(inner) == 0:
            segments.append(Segment(start, end, np.nan))
            continue
        centre = np.median(inner)
        spread = max(3 * noise, 0.5)
        kept = inner[np.abs(inner - centre) <= spread]
        mean = float(np.mean(kept)) if len(kept) else float(centre)
        error = noise / np.sqrt(max(len(kept), 1))
        f = float(sweep_from_offset(mean, width))
        half_width = (0.5 + 2 * error) / (width - 9)
        segments.append(Segment(start, end, mean, f, (f - half_width, f + half_width)))
    return segments


def combine_with_horizontal(segments, horizontal_offset, horizontal_rows, height, error):
    """Narrows the sweep position of the stretch that holds the horizontal bar with the bar's
    own reading: both offsets are truncations of the same f, so f lies where the two intervals
    overlap. Returns by how much they do not, in sweep position: the horizontal bar's less the
    vertical bar's, 0 where they agree."""
    if np.isnan(horizontal_offset):
        return 0.0
    middle = (horizontal_rows[0] + horizontal_rows[1]) / 2
    for segment in segments:
        # Only a stretch that holds the whole bar: near a break the bar may be of two frames.
        if not (segment.start <= horizontal_rows[0] and horizontal_rows[1] <= segment.end):
            continue
        if not segment.start <= middle < segment.end or np.isnan(segment.offset):
            continue
        f = float(sweep_from_offset(horizontal_offset, height))
        half_width = (0.5 + 2 * error) / (height - 9)
        low = max(segment.f_range[0], f - half_width)
        high = min(segment.f_range[1], f + half_width)
        if low <= high:
            segment.f_range = (low, high)
            segment.f = (low + high) / 2
            return 0.0
        return f - segment.f
    return 0.0


def row_sweep(segments, rows):
    """Sweep position of each of rows sampled rows, from the stretch that holds it."""
    f = np.full(rows, np.nan)
    for segment in segments:
        f[segment.start:segment.end] = segment.f
    return f


def set_jumps(reading, offsets, width):
    """Each break's jump in sweep position, in a window width pixels wide, from the stretches
    on either side of it. An outline a little off tilts the bar alike in every stretch, which
    moves the stretches' means apart by the tilt: the levels are fitted with one slope shared
    by all stretches (offsets: per sampled row, NaN unread)."""
    if not reading.breaks:
        return
    # Rows within a break's smear show a blend of both frames: left out.
    margins = [max(_blend_margin(len(offsets)), int(np.ceil(b.band_share * len(offsets))))
               for b in reading.breaks]
    rows, stretch = [], []
    for number, segment in enumerate(reading.segments):
        first = segment.start + (margins[number - 1] if number else 0)
        last = segment.end - (margins[number] if number < len(margins) else 0)
        inner = np.arange(first, max(first, last))
        inner = inner[~np.isnan(offsets[inner])]
        rows.append(inner)
        stretch.append(np.full(len(inner), number))
    rows, stretch = np.concatenate(rows), np.concatenate(stretch)
    levels = _levels_with_shared_slope(rows, stretch, offsets[rows], len(reading.segments))
    for number, found in enumerate(reading.breaks):
        jump = levels[number] - levels[number + 1]
        found.jump_f = float(jump / (width - 9)) if np.isfinite(jump) else \
            reading.segments[number].f - reading.segments[number + 1].f


def _levels_with_shared_slope(rows, stretch, values, count):
    """Per stretch, its level at row 0 with one slope fitted for all (least squares, once
    more without the rows that stray beyond three robust spreads); NaN for a stretch without
    rows, or for all when the slope cannot be told."""
    present = np.unique(stretch)
    if len(rows) < len(present) + 2:
        return np.full(count, np.nan)
    design = np.column_stack([stretch[:, None] == present[None, :], rows]).astype(float)
    kept = np.ones(len(rows), bool)
    for _ in range(2):
        solution = np.linalg.lstsq(design[kept], values[kept], rcond=None)[0]
        residual = values - design @ solution
        spread = 1.4826 * np.median(np.abs(residual[kept]))
        kept = np.abs(residual) <= max(3 * spread, 1e-6)
    levels = np.full(count, np.nan)
    levels[present] = solution[:-1]
    return levels


def direction_vote(breaks, refresh_ms):
    """Which way the sweep runs (+1: f growing, bars moving right and up; -1: falling), as far
    as one window's breaks tell it, weighted by how sure: (direction, weight).

    One break alone is most likely the scan-out boundary, with the newer frame above, the more
    so when it jumps by about a refresh or two, as a vsync'd window's does. Of several breaks,
    tears all point one way and the boundary the other."""
    signs = [np.sign(b.jump_f) for b in breaks if b.jump_f]
    if not signs:
        return 0, 0.0
    if len(signs) == 1:
        refreshes = breaks[0].jump_ms / refresh_ms
        if breaks[0].cut:  # of a size not known: likelier the boundary, but only just
            return int(signs[0]), 0.25
        if refreshes < PART_OF_REFRESH:  # a tear: the newer frame below
            return -int(signs[0]), 0.5
        return int(signs[0]), 1.0 if refreshes <= 2.4 else 0.25
    positive = signs.count(1)
    if positive in (0, len(signs)):
        return -int(signs[0]), 2.0
    if len(signs) == 2:  # one each way: the boundary jumps further than a tear
        return int(np.sign(max(breaks, key=lambda b: abs(b.jump_f)).jump_f)), 1.0
    if positive == 1:
        return 1, 2.0
    if positive == len(signs) - 1:
        return -1, 2.0
    largest = max(breaks, key=lambda b: abs(b.jump_f))
    return int(np.sign(largest.jump_f)), 0.5


def smeared_into_ramp(offsets, breaks, frame_px):
    """Whether a window's content (bar offsets per sampled row, window pixels) changes from its
    top rows to its bottom rows by about a refresh of motion (frame_px) in all, most of it
    gradually rather than at its breaks: a scan-out boundary smeared by a long exposure into a
    ramp, with a step left where it is steepest. Tears account for the change in steps."""
    seen = offsets[~np.isnan(offsets)]
    if len(seen) < 20 or not breaks:
        return False
    ends = max(3, len(seen) // 10)
    total = abs(float(np.median(seen[:ends]) - np.median(seen[-ends:])))
    stepped = sum(abs(b.jump_px) for b in breaks)
    return abs(total / frame_px - 1) < RAMP_REFRESH_MARGIN and stepped < RAMP_STEP_SHARE * total


def classify_breaks(breaks, direction, refresh_ms):
    """Marks the scan-out boundary (the largest break with newer content above) and the tears.
    With the direction unknown (0), the largest break is taken for the boundary. A jump of
    part of a refresh is a tear: a window that swaps only between scan-outs shows whole
    refreshes of motion. Two kinds of break are "unsure" instead, never a tear: a change cut
    off by the window's edge, of a size not known, and a change the boundary's way. Down from
    the boundary each row was scanned out later than the one above, so its content is as new
    or newer: content older below at a second place is the boundary's own change blurred into
    two steps by the exposure, or misread."""
    whole = [b for b in breaks if b.jump_ms >= PART_OF_REFRESH * refresh_ms or b.smeared]
    newer_above = [b for b in whole if direction * b.jump_f > 0] if direction else whole
    boundary = max(newer_above, key=lambda b: abs(b.jump_f)) if newer_above else None
    for found in breaks:
        found.boundary_way = boundary is not None and found is not boundary and \
            direction * found.jump_f > 0
        found.kind = "scan" if found is boundary else \
            "unsure" if found.cut or found.boundary_way else "tear"
    return boundary


def content_lead_ms(f_rows, direction, read_ms, boundary_fraction, boundary_read_ms,
                    refresh_ms, newer_above=True):
    """Content time minus the start of the refresh that scanned it out, averaged over rows.

    f_rows: sweep position per sampled row (evenly spaced down the window, NaN where unread);
    read_ms: the camera's moment for each row. With the scan-out boundary at boundary_fraction
    of the rows, read at boundary_read_ms, the refresh in progress began boundary_fraction of a
    refresh earlier: rows above it show that refresh, rows below the one before (the other way
    round when the camera read the rows more slowly than the display scanned them). Without a
    boundary all rows show one refresh, taken to have begun in the middle of the moments it
    can have begun at (see unseen_refresh_start). With a global shutter (read_ms all equal)
    this is the mean content time less a constant. Returns the lead and how far the start of
    the refresh it is measured from may be off, ms (0 where the boundary shows).
    """
    content = direction * f_rows / SWEEP_PER_MS
    count = len(f_rows)
    fraction = (np.arange(count) + 0.5) / count
    if boundary_fraction is None:
        read = ~np.isnan(f_rows)
        earliest, latest = unseen_refresh_start(read_ms[read], fraction[read], refresh_ms)
        started = np.full(count, (earliest + latest) / 2)
        start_doubt = (latest - earliest) / 2
    else:
        start_doubt = 0.0
        began = boundary_read_ms - boundary_fraction * refresh_ms
        above, below = (began, began - refresh_ms) if newer_above else (began - refresh_ms, began)
        started = np.where(fraction < boundary_fraction, above, below)
    return float(np.nanmean(content - started)), float(start_doubt)


def unseen_refresh_start(read_ms, fractions, refresh_ms):
    """The earliest and the latest moment (ms) at which the refresh on show can have begun, for
    rows that show no scan-out boundary: rows at fractions of the window's height (0 top, 1
    bottom) read at read_ms. The display scans a row out a fraction of a refresh after the
    refresh begins (less its blanking), and a row shows the refresh that scanned it last before
    the camera read it: that refresh began no later than any row's read moment less its scan
    delay, and less than a refresh before every one. With a global shutter the moments span
    the blanking; a rolling shutter widens them by the time the camera took over the rows.
    Rows that span more than a refresh must show a boundary: one went unseen, and the moments
    then span the rows' read moments and a refresh either way."""
    since = np.asarray(read_ms, float) - np.asarray(fractions, float) * refresh_ms * (
        1.0 - BLANKING_SHARE)
    if not len(since):
        return float("nan"), float("nan")
    earliest, latest = float(since.max()) - refresh_ms, float(since.min())
    if earliest > latest:  # the rows span more than a refresh: a boundary went unseen
        return latest - refresh_ms, earliest + refresh_ms
    return earliest, latest


def scan_position(boundary_fraction, boundary_read_ms, reference_ms, refresh_ms):
    """The fraction of rows scanned out at the reference moment, from where the camera saw the
    boundary: the scan moves one window height per refresh."""
    return float(np.mod(boundary_fraction - (boundary_read_ms - reference_ms) / refresh_ms, 1.0))


def unseen_scan_arc(fractions, read_ms, reference_ms, refresh_ms):
    """The scan positions (as scan_position gives them, at reference_ms) left open by rows at
    fractions of a window's height (0 top, 1 bottom), read at read_ms, none of which shows the
    scan-out boundary: the boundary stood at none of them when it was read, which rules out
    one stretch of positions; the display was blanking, or scanning rows outside them. Returns
    the arc left, (start, length), or None where the rows rule out every position (they span
    more than a refresh, so a boundary went unseen)."""
    ruled_out = np.asarray(fractions, float) - (np.asarray(read_ms, float)
                                                - reference_ms) / refresh_ms
    low, high = float(ruled_out.min()), float(ruled_out.max())
    if high - low >= 1.0:
        return None
    return float(np.mod(high, 1.0)), 1.0 - (high - low)


def spread_bounds(points, arcs, step=0.005):
    """The least and the most circular_spread of a set of positions (fractions of a turn), some
    known (points), some known only to lie on arcs ((start, length) each), over every choice
    of a position on each arc."""
    points = np.mod(np.asarray(points, float), 1.0)
    starts = np.mod(np.array([a[0] for a in arcs], float), 1.0)
    lengths = np.array([a[1] for a in arcs], float)
    # The least: the smallest arc holding a position of each, which begins at a point or at an
    # arc's end (else it could begin later); from there a point lies some way ahead, an arc
    # none where it holds the beginning, else as far as its start.
    begins = np.mod(np.concatenate([points, starts + lengths]), 1.0)
    if not len(begins):
        return 0.0, 0.0
    ahead = np.mod(points[None, :] - begins[:, None], 1.0)
    onto = np.mod(starts[None, :] - begins[:, None], 1.0)
    holds = np.mod(begins[:, None] - starts[None, :], 1.0) <= lengths[None, :] + 1e-9
    reach = np.concatenate([ahead, np.where(holds, 0.0, onto)], axis=1).max(axis=1)
    # The most: the arc that holds every point and the whole of every arc.
    spans = [start + np.linspace(0.0, length, int(np.ceil(length / step)) + 1)
             for start, length in zip(starts, lengths)]
    return float(reach.min()), circular_spread(np.concatenate([points, *spans]))


def circular_spread(fractions):
    """The smallest arc (as a fraction of a turn) that holds all the fractions."""
    points = np.sort(np.mod(fractions, 1.0))
    if len(points) < 2:
        return 0.0
    gaps = np.diff(np.concatenate([points, points[:1] + 1.0]))
    return float(1.0 - gaps.max())
