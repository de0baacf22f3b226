"""Cuts a rectified view of a lit region into the windows it holds.

The view is a float32 array in which the wall's rows of lines run along x and its columns of
lines along y (the pattern map seen through a rectifying homography). Every window shows a
frame line on each side and exactly one bar in each direction between them; windows that abut
share a boundary of two frame lines; windows apart leave a gap with nothing lit. So along an
axis, N windows are there when a line runs across the box at each of their N + 1 sides and
exactly one line (the bar) stands between each two. Telling a bar from a frame line by its
width would not do: seen small, both are a blurred pixel or two. A boundary runs across the
whole box, though, where a torn bar's pieces and the bars of windows at other heights do not.

Boxes are (x0, y0, x1, y1) in view pixels, at the centres of the outermost frame lines; axis 0
is x, axis 1 is y.
"""

from dataclasses import dataclass

import numpy as np

MAX_PARTS = 8  # windows tried along one axis of a box
# Convergence of equal windows along an axis, as a projective shrink of the box's span, tried
# within this much either way (the rectified view keeps a wall's lines straight, not its
# spacings).
PROJECTIVE = np.linspace(-0.4, 0.4, 17)
SIDE_REACH = 0.06  # a side is looked for within this share of its windows' widths
LINE_SHARE = 0.3  # a line inside a window is at least this share of the box's strongest
SIDE_SHARE = 0.1  # a side's line at least this share (dashes of a thin frame line)
UNLIT_SIDE = 0.4  # a side without a line counts for this much of a wrong bar
BAR_LIKE = 0.8  # a side at least this share of the bars' light may be a bar
BAR_SPREAD = 0.06  # bars more apart than this (share of a width) are not at one place
BAR_SIDE_RATIO = 1.25  # a side this much stronger than the other holds the bar (a turn)
EDGE_SHARE = 0.05  # the outermost lines of a box are at least this share of its strongest
END_SHARE = 0.2  # a line ends where its light falls below this share of its typical light
# Lines this near each other (share of the window's width) are one: a side and the frame line
# of a neighbour beyond a narrow bezel, or the pieces of a bar torn by swaps during scan-out.
PARTNER_SHARE = 0.04
EDGE_MARGIN = 0.01  # lines this near a side (share of the width) are not inside
PAIR_SHARE = 0.08  # the two frame lines of windows a bezel apart, as a share of a width
SPAN_CHUNKS = 8
SKEW_SHARE = 0.004  # a line may lie this share of its length askew in the view
PROFILE_MARGIN = 4
FULL_SPAN = 0.75  # a line across a box runs at least this share of its length
DASHED_SHARE = 0.4  # and lights at least this share of it
GAP_SHARE = 0.15  # a gap between windows is lit below this share of the windows' crossings
MIN_PART_PX = 8
MAX_DEPTH = 4


@dataclass
class Cell:
    box: tuple
    clean: bool  # one line across it inside in each direction, as a window shows
    # Per side (left, top, right, bottom): the side is one line shared with a neighbour that
    # abuts, so that its centre lies on the boundary rather than on this window's frame line.
    shared: tuple = (False, False, False, False)


def line_mass(profile, reach=2):
    """Per position, the lit mass within reach pixels: a line's light per unit of its length,
    however the blur spreads it."""
    padded = np.pad(profile, reach)
    sums = np.cumsum(np.concatenate([[0.0], padded]))
    return sums[2 * reach + 1:] - sums[:-2 * reach - 1]


def peaks(values, floor):
    """Indexes of the local maxima of values above floor, none closer than 3 to a higher one."""
    inner = (values[1:-1] >= values[:-2]) & (values[1:-1] > values[2:]) & (values[1:-1] > floor)
    kept = []
    for index in np.nonzero(inner)[0] + 1:
        if kept and index - kept[-1] < 3:
            if values[index] > values[kept[-1]]:
                kept[-1] = index
            continue
        kept.append(index)
    return np.array(kept, int)


def _part(view, box):
    x0, y0, x1, y1 = (int(round(v)) for v in box)
    return view[max(y0, 0):max(y1 + 1, 0), max(x0, 0):max(x1 + 1, 0)], max(x0, 0), max(y0, 0)


def _profile(view, box, axis, margin=PROFILE_MARGIN):
    """The mean light across the box, per position along axis from margin pixels before the
    box to margin after it (so that its outermost lines show as peaks), with the position of
    its first element."""
    wider = list(box)
    wider[axis], wider[axis + 2] = box[axis] - margin, box[axis + 2] + margin
    part, x0, y0 = _part(view, wider)
    if not part.size:
        return np.zeros(1), (x0, y0)[axis]
    return part.mean(axis=axis), (x0, y0)[axis]


def spans(view, box, axis, positions, floor):
    """For lines at positions along axis, how far across the box each runs: the share of its
    length from its first to its last lit chunk, and the share of chunks lit (a dashed line
    runs across with gaps). A chunk is lit when its light above the bands beside the line (so
    that lines crossing it do not count) is at least a third of the line's mean and above floor
    (mean light across the box). The bands allow for a line that the view shows a few pixels
    askew over a long box."""
    part, x0, y0 = _part(view, box)
    if not part.size or not len(positions):
        return np.zeros(len(positions)), np.zeros(len(positions))
    lines = part if axis == 0 else part.T  # positions index the columns
    reach = max(2, int(round(SKEW_SHARE * lines.shape[0])))
    aside = 3 * reach + 6
    pad = aside + reach + 1
    cumulative = np.cumsum(np.pad(lines, ((0, 0), (pad, pad))), axis=1)
    index = np.clip(np.round(np.asarray(positions) - (x0, y0)[axis]).astype(int), 0,
                    lines.shape[1] - 1) + pad

    def band(centre):
        return cumulative[:, centre + reach] - cumulative[:, centre - reach - 1]

    own = band(index) - np.minimum(band(index - aside), band(index + aside))
    light = np.array([chunk.mean(axis=0) for chunk in np.array_split(own, SPAN_CHUNKS)
                      if len(chunk)])
    lit = light >= np.maximum(light.mean(axis=0) / 3, floor)
    first = np.argmax(lit, axis=0)
    last = len(lit) - 1 - np.argmax(lit[::-1], axis=0)
    extent = np.where(lit.any(axis=0), (last - first + 1) / len(lit), 0.0)
    return extent, lit.mean(axis=0)


def runs_across(view, box, axis, positions, floor):
    """Whether each line at positions runs across the box, dashed or not."""
    extent, lit = spans(view, box, axis, positions, floor)
    return (extent >= FULL_SPAN) & (lit >= DASHED_SHARE)


def _line_ends(view, box, axis):
    """Where the strong lines that run along axis begin and end: the bars run from edge to
    edge of their windows, so their ends stand on the outer sides even where the frame line
    there is too faint to see. None when no such line shows."""
    profile, start = _profile(view, box, 1 - axis)
    mass = line_mass(profile)
    strong = start + peaks(mass, LINE_SHARE * mass.max())
    # The lines on the box's own sides may be a neighbour's as well, running on beyond it.
    low, high = box[1 - axis], box[3 - axis]
    margin = max(3.0, PARTNER_SHARE * (high - low))
    inner = strong[(strong > low + margin) & (strong < high - margin)]
    ends = []
    for line in inner if len(inner) else strong:
        band = list(box)
        band[1 - axis], band[3 - axis] = line - 1, line + 1
        light, first = _profile(view, band, axis)
        light = line_mass(light, 3)
        lit = np.nonzero(light >= END_SHARE * np.median(light[light > 0]))[0] if np.any(
            light > 0) else []
        if len(lit) and lit[-1] - lit[0] > 6:
            ends.append((first + lit[0] + 3, first + lit[-1] - 3))
    if not ends:
        return None
    ends = np.array(ends, float)
    long = ends[:, 1] - ends[:, 0] >= 0.3 * np.max(ends[:, 1] - ends[:, 0])
    return ends[long, 0].min(), ends[long, 1].max()


def outer_lines(view, box, axis):
    """The box narrowed along axis to its outer sides (the outermost frame lines), or None when
    it shows no window: the ends of the lines across it, at a frame line where one shows."""
    ends = _line_ends(view, box, axis)
    if ends is None or ends[1] - ends[0] < MIN_PART_PX:
        return None
    profile, start = _profile(view, box, axis)
    mass = line_mass(profile)
    found = start + peaks(mass, EDGE_SHARE * mass.max())
    reach = max(3.0, 0.01 * (ends[1] - ends[0]))
    sides = []
    for end in ends:
        near = found[np.abs(found - end) <= reach]
        sides.append(float(near[np.argmin(np.abs(near - end))]) if len(near) else float(end))
    return tuple(sides)


def _narrowed(view, box, axis, low, high):
    """The part of box from low to high along axis, narrowed to its outer lines along the
    other axis; None when it shows no window."""
    part = list(box)
    part[axis], part[axis + 2] = low, high
    other = outer_lines(view, part, 1 - axis)
    if other is None:
        return None
    part[1 - axis], part[3 - axis] = other
    return tuple(part)


def _split_at_gaps(view, box, axis):
    """The box cut at its gaps along axis: runs where nothing is lit, flanked by lines that run
    across the box (the outer frame lines of the windows either side)."""
    profile, start = _profile(view, box, axis)
    mass = line_mass(profile)
    lines = peaks(mass, EDGE_SHARE * mass.max())
    if len(lines) < 2:
        return [box]
    across = runs_across(view, box, axis, start + lines, SIDE_SHARE * mass.max() / 3)
    crossing = np.median(mass[lines[0]:lines[-1] + 1])
    dark = mass < GAP_SHARE * max(crossing, 1e-6)
    cuts = []
    for left, right in zip(lines[:-1], lines[1:]):
        run = _longest_run(dark[left:right + 1])
        flanked = across[lines == left][0] and across[lines == right][0]
        if flanked and run[1] - run[0] >= 3:
            cuts.append(start + left + (run[0] + run[1] - 1) / 2)
    if not cuts:
        return [box]
    bounds = [box[axis]] + cuts + [box[axis + 2]]
    parts = []
    for low, high in zip(bounds[:-1], bounds[1:]):
        part = list(box)
        part[axis], part[axis + 2] = low, high
        narrowed = outer_lines(view, part, axis)
        if narrowed is not None:
            parts.append(_narrowed(view, box, axis, *narrowed))
    return [p for p in parts if p is not None] or [box]


def _longest_run(flags):
    """(first, end) of the longest run of True in flags, end exclusive; (0, 0) where none. A
    gap's dark run may be broken by a speck of noise, which leaves the gap a gap."""
    edges = np.diff(np.concatenate([[0], flags.astype(np.int8), [0]]))
    starts, ends = np.nonzero(edges == 1)[0], np.nonzero(edges == -1)[0]
    if not len(starts):
        return 0, 0
    longest = int(np.argmax(ends - starts))
    return int(starts[longest]), int(ends[longest])


def projective(fractions, shrink):
    """Fractions of a span (0 .. 1) moved by a 1-D projective map that keeps both ends: how a
    wall's equal spacings look when the wall is seen at an angle."""
    fractions = np.asarray(fractions, float)
    return fractions * (1 + shrink) / (1 + shrink * fractions)


def _clusters(positions, width):
    """How many groups the positions form, those nearer than PARTNER_SHARE of width joined."""
    if not len(positions):
        return 0
    return 1 + int(np.sum(np.diff(np.sort(positions)) > PARTNER_SHARE * width))


class _Lines:
    """The lines of a box along one axis: positions (view pixels), their light relative to the
    strongest, and whether each runs across the box."""

    def __init__(self, view, box, axis):
        profile, start = _profile(view, box, axis)
        mass = line_mass(profile)
        top = max(mass.max(), 1e-9)
        found = peaks(mass, SIDE_SHARE * top)
        self.positions = start + found.astype(float)
        self.light = mass[found] / top
        self.across = runs_across(view, box, axis, self.positions, SIDE_SHARE * top / 3)

    def inside(self, low, high):
        """The strong lines between low and high, clear of what belongs to either side."""
        margin = max(2.0, EDGE_MARGIN * (high - low))
        keep = (self.positions > low + margin) & (self.positions < high - margin)
        return self.positions[keep & (self.light >= LINE_SHARE)]

    def side_near(self, position, reach, width):
        """The boundary nearest position within reach: the strongest line across the box
        there, with a frame line across beside it within PAIR_SHARE of width (windows a
        narrow bezel apart). Returns the first and last line of the boundary (one line for
        windows that abut) and its light, or None."""
        near = (np.abs(self.positions - position) <= reach) & self.across
        if not near.any():
            return None
        best = int(np.argmax(np.where(near, self.light, -1)))
        found = self.positions[best]
        # The neighbour's frame line, not a bar near the side: fainter than a bar.
        beside = self.across & (np.abs(self.positions - found) <= PAIR_SHARE * width) & (
            self.light < BAR_LIKE)
        beside[best] = False
        if beside.any():
            partner = self.positions[int(np.argmax(np.where(beside, self.light, -1)))]
            return (min(found, partner), max(found, partner)), self.light[best]
        return (found, found), self.light[best]

    def strength_at(self, position):
        near = np.abs(self.positions - position) <= 1.5
        return float(self.light[near].max()) if near.any() else 0.0


@dataclass
class Split:
    """Windows along an axis of a box and how well they explain its lines."""
    windows: list  # (low, high) sides of each, snapped to the lines where they show
    bars_wrong: int  # windows with other than one line (one bar, perhaps torn) inside
    sides_unlit: int  # sides with no line across the box
    bar_spread: float  # how far the bars' places in their windows differ (shares of a width)
    light: float  # the sides' light

    @property
    def violations(self):
        # A side may show no line where the camera skips the thin frame lines; a bar always
        # shows. Sides placed by no line stand only where they put the bars at one place in
        # every window.
        scattered = self.sides_unlit if self.bar_spread > BAR_SPREAD else 0
        return self.bars_wrong + UNLIT_SIDE * self.sides_unlit + scattered

    def rank(self):
        """Fewest violations; then the bars at one place in every window (they follow one
        clock), then the most light on the sides."""
        return (self.violations, round(self.bar_spread, 2), -self.light)


def test_split(lines, low, high, fractions):
    """How well windows with sides at the fractions of the span low .. high explain the lines
    (trying spacings shrunk as a wall seen at an angle shows them): the best Split."""
    best = None
    for shrink in PROJECTIVE if len(fractions) > 2 else [0.0]:
        sides = low + (high - low) * projective(fractions, shrink)
        snapped, light, unlit = [(sides[0], sides[0])], 0.0, 0
        for k in range(1, len(sides) - 1):
            width = (sides[k + 1] - sides[k - 1]) / 2
            found = lines.side_near(sides[k], SIDE_REACH * width, width)
            if found is None:
                unlit += 1
                snapped.append((sides[k], sides[k]))
                continue
            snapped.append(found[0])
            light += found[1]
        snapped.append((sides[-1], sides[-1]))
        windows = [(a[1], b[0]) for a, b in zip(snapped[:-1], snapped[1:])]
        wrong, bare, places, bar_light = 0, [], [], []
        for left, right in windows:
            inside = lines.inside(left, right)
            count = _clusters(inside, right - left)
            if count:
                wrong += abs(count - 1)
                places.append((np.median(inside) - left) / (right - left))
                bar_light.append(max(lines.strength_at(p) for p in inside))
            else:
                bare.append(_bar_on_side(lines, left, right))
        # A side as bright as the bars may be one of them: it places nothing.
        if bar_light:
            bright = BAR_LIKE * np.median(bar_light)
            unlit += sum(lines.strength_at(side[0]) >= bright for side in snapped[1:-1]
                         if side[0] == side[1] and lines.strength_at(side[0]) > 0)
        # At a turn of the sweep every window's bar lies on the same one of its sides, so a
        # window without a line inside is one only when all are, alike.
        if bare and (None in bare or len(set(bare)) > 1 or len(bare) < len(windows)):
            wrong += len(bare)
        trial = Split(windows, wrong, unlit, float(np.std(places)) if places else 0.0, light)
        if best is None or trial.rank() < best.rank():
            best = trial
    return best


def _bar_on_side(lines, low, high):
    """Which side of a window without a line inside its bar lies on (the sweep at its turn):
    "low" or "high", the one as strong as a bar and clearly stronger than the other side (a
    frame line alone); None when neither is."""
    strengths = {"low": lines.strength_at(low), "high": lines.strength_at(high)}
    for name, other in (("low", "high"), ("high", "low")):
        if strengths[name] >= max(0.8, BAR_SIDE_RATIO * strengths[other]):
            return name
    return None


def best_split(view, box, axis, layouts=()):
    """The Split of the box along axis that explains its lines best. Equal windows are tried
    for every N, and each layout's own spacings (fractions of its span, 0 and 1 included);
    of those that explain them equally well, the most windows."""
    lines = _Lines(view, box, axis)
    low, high = box[axis], box[axis + 2]
    candidates = [np.linspace(0, 1, parts + 1) for parts in range(1, MAX_PARTS + 1)]
    candidates += [np.asarray(f, float) for f in layouts]
    best = None
    for fractions in candidates:
        if best is not None and (high - low) / (len(fractions) - 1) < MIN_PART_PX:
            continue
        trial = test_split(lines, low, high, fractions)
        key = (trial.violations, -len(trial.windows)) + trial.rank()[1:]
        if best is None or key < best[0]:
            best = (key, trial)
    return best[1]


def split(view, box, layouts=((), ()), depth=0, shared=(False,) * 4):
    """The windows of a box, as cells: cut at gaps, then along the axis whose windows explain
    its lines without violation, each part cut again. A part that no split explains is one
    cell, clean when its lines are those of one window. shared: which of the box's sides are
    lines shared with a neighbour."""
    for axis in (0, 1):
        parts = _split_at_gaps(view, box, axis)
        if len(parts) > 1 and depth < MAX_DEPTH:
            cells = []
            for index, part in enumerate(parts):
                # Nothing is shared across a gap.
                inner = _sides_of(shared, axis, False, False, index == 0,
                                  index == len(parts) - 1)
                cells += split(view, part, layouts, depth + 1, inner)
            return cells
    splits = [best_split(view, box, axis, layouts[axis]) for axis in (0, 1)]
    # A cut stands where every window it makes holds its one bar.
    cuts = [a for a in (0, 1) if len(splits[a].windows) > 1 and not splits[a].bars_wrong]
    if not cuts or depth >= MAX_DEPTH:
        return [Cell(box, not any(s.bars_wrong for s in splits), tuple(shared))]
    axis = min(cuts, key=lambda a: (splits[a].violations, -len(splits[a].windows)))
    windows = splits[axis].windows
    cells = []
    for index, (low, high) in enumerate(windows):
        part = _narrowed(view, box, axis, low, high)
        if part is None:
            continue
        # Windows that abut share the one line between them.
        low_shared = index > 0 and windows[index - 1][1] == low
        high_shared = index < len(windows) - 1 and windows[index + 1][0] == high
        inner = _sides_of(shared, axis, low_shared, high_shared, index == 0,
                          index == len(windows) - 1)
        cells += split(view, part, layouts, depth + 1, inner)
    return cells


def _sides_of(shared, axis, low_shared, high_shared, first, last):
    """The shared flags (left, top, right, bottom) of a part of a box cut along axis: its own
    low and high sides along axis, the box's where the part lies at the box's end, and the
    box's sides across the cut as they are."""
    sides = list(shared)
    sides[axis] = shared[axis] if first else low_shared
    sides[axis + 2] = shared[axis + 2] if last else high_shared
    return tuple(sides)
