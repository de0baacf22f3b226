"""Names the windows found in a photo: by the tool's groups when given, matched by where each
window lies relative to the others, or else 1, 2, ... in reading order."""

from itertools import permutations

import numpy as np

MAX_MATCHED = 7  # beyond this many windows, matching by every assignment takes too long
SHAPE_WEIGHT = 4.0  # how much a window's shape counts beside the layout's fit
# Assignments whose cost lies this near the best's fit the photo as well (a column of a wall
# found, which column of the groups it is); at most this many are given.
TIE_COST = 0.01
MAX_TIES = 4


def reading_order(centres):
    """Indexes of the points in reading order: rows from the top, left to right in each. Points
    whose heights differ by less than a third of the typical spacing share a row."""
    centres = np.asarray(centres, float)
    if len(centres) < 2:
        return list(range(len(centres)))
    spacing = np.median(np.diff(np.sort(centres[:, 1]))) if len(centres) > 2 else 0.0
    spread = np.ptp(centres, axis=0).max()
    tolerance = max(spacing / 3, 0.05 * spread)
    order = list(np.argsort(centres[:, 1]))
    rows, current = [], [order[0]]
    for index in order[1:]:
        if centres[index, 1] - centres[current[0], 1] > tolerance:
            rows.append(current)
            current = []
        current.append(index)
    rows.append(current)
    return [int(i) for row in rows for i in sorted(row, key=lambda i: centres[i, 0])]


def spacings(groups):
    """The spacings that walls made of the groups' windows may show, along x and along y: for
    every box spanned by two groups and filled by the groups inside it, the positions of
    their edges as fractions of its span (0 and 1 included). Equal spacings need none."""
    rects = [(g[0], g[1], g[0] + g[2], g[1] + g[3]) for g in groups]
    found = (set(), set())
    for first in rects:
        for second in rects:
            box = (min(first[0], second[0]), min(first[1], second[1]),
                   max(first[2], second[2]), max(first[3], second[3]))
            inside = [r for r in rects if r[0] >= box[0] and r[1] >= box[1] and
                      r[2] <= box[2] and r[3] <= box[3]]
            area = sum((r[2] - r[0]) * (r[3] - r[1]) for r in inside)
            if area != (box[2] - box[0]) * (box[3] - box[1]):
                continue
            for axis in (0, 1):
                span = box[axis + 2] - box[axis]
                edges = sorted({r[axis] for r in inside} | {r[axis + 2] for r in inside})
                fractions = tuple(round((e - box[axis]) / span, 6) for e in edges)
                if len(fractions) > 2 and not np.allclose(
                        np.diff(fractions), 1 / (len(fractions) - 1)):
                    found[axis].add(fractions)
    return tuple(tuple(sorted(axis)) for axis in found)


def match_groups(desktop_centres, photo_centres, desktop_widths, photo_widths,
                 desktop_aspects=None, photo_aspects=None):
    """Pairs groups with windows found: a list of (group index, found index) for as many as the
    smaller of the two sets, chosen so that the layout on the desktop maps best onto the photo
    by scale, rotation and shift, with the desktop's x and y keeping their directions, the
    layout's scale that of the windows themselves, and each window's shape its group's (as far
    as the camera's angle keeps it; aspects are width over height). None where no assignment
    fits at all."""
    ranked = matches(desktop_centres, photo_centres, desktop_widths, photo_widths,
                     desktop_aspects, photo_aspects)
    return ranked[0] if ranked else None


def matches(desktop_centres, photo_centres, desktop_widths, photo_widths,
            desktop_aspects=None, photo_aspects=None):
    """The assignments of match_groups that fit about as well as the best (within TIE_COST),
    the best first, at most MAX_TIES: where fewer windows are found than groups, the layout
    alone may not say which of the groups they are. Empty where none fits."""
    desktop = np.asarray(desktop_centres, float)
    photo = np.asarray(photo_centres, float)
    desktop_widths = np.asarray(desktop_widths, float)
    photo_widths = np.asarray(photo_widths, float)
    shapes = np.zeros((len(desktop), len(photo)))
    if desktop_aspects is not None and photo_aspects is not None:
        shapes = SHAPE_WEIGHT * np.log(np.asarray(photo_aspects, float)[None, :]
                                       / np.asarray(desktop_aspects, float)[:, None]) ** 2
    pairs = min(len(desktop), len(photo))
    if pairs == 0:
        return [[]]
    if max(len(desktop), len(photo)) > MAX_MATCHED:
        groups = reading_order(desktop)[:pairs]
        found = reading_order(photo)[:pairs]
        return [list(zip(groups, found))]
    # Every assignment of the smaller set to members of the larger one, in order.
    chosen = np.array(list(permutations(range(max(len(desktop), len(photo))), pairs)))
    in_order = np.broadcast_to(np.arange(pairs), chosen.shape)
    groups, found = (chosen, in_order) if len(photo) < len(desktop) else (in_order, chosen)
    size_scale = photo_widths[found].sum(axis=1) / desktop_widths[groups].sum(axis=1)
    costs = _layout_costs(desktop[groups], photo[found], size_scale) + shapes[
        groups, found].sum(axis=1)
    costs = np.where(np.isnan(costs), np.inf, costs)
    order = np.argsort(costs, kind="stable")
    if not np.isfinite(costs[order[0]]):
        return []
    tied = [i for i in order[:MAX_TIES] if costs[i] <= costs[order[0]] + TIE_COST]
    return [[(int(g), int(f)) for g, f in zip(groups[i], found[i])] for i in tied]


def _similarity_fits(source, target):
    """Least-squares fits target = a * source + b with complex a, b (scale, rotation, shift),
    one per row of the (fits x points x 2) arrays: the summed squared residuals relative to
    the target's spread, and a."""
    z = source[..., 0] + 1j * source[..., 1]
    w = target[..., 0] + 1j * target[..., 1]
    if z.shape[1] == 1:
        return np.zeros(len(z)), np.ones(len(z), complex)
    zc, wc = z - z.mean(axis=1, keepdims=True), w - w.mean(axis=1, keepdims=True)
    a = np.sum(zc.conj() * wc, axis=1) / np.maximum(np.sum(np.abs(zc) ** 2, axis=1), 1e-12)
    residual = np.sum(np.abs(wc - a[:, None] * zc) ** 2, axis=1) / np.maximum(
        np.sum(np.abs(wc) ** 2, axis=1), 1e-12)
    return residual, a


def _layout_costs(desktop, photo, size_scale):
    """How badly each assignment's desktop layout maps onto its photo layout (fits x points x
    2 arrays; size_scale, per fit, the windows' own photo-to-desktop scale)."""
    residual, scale = _similarity_fits(desktop, photo)
    # A photo is never mirrored or upside down: the rotation stays within a quarter turn.
    turned = np.abs(np.angle(scale)) > np.pi / 4
    # The spacing of the windows and their sizes shrink alike (bezels aside).
    with np.errstate(divide="ignore"):
        spacing = np.log(np.abs(scale) / size_scale) ** 2 if desktop.shape[1] > 1 else 0.0
    return residual + spacing + np.where(turned, 10.0, 0.0)
