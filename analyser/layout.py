"""Names the windows found in a photo: by the tool's groups when given, matched by where each
window lies relative to the others, or else 1, 2, ... in reading order."""

from itertools import permutations

import numpy as np

MAX_MATCHED = 7  # beyond this many windows, matching by every assignment takes too long


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


def _similarity_residual(source, target):
    """Least-squares fit target = a * source + b with complex a, b (scale, rotation, shift):
    returns the summed squared residual relative to the target's spread, and a."""
    z = source[:, 0] + 1j * source[:, 1]
    w = target[:, 0] + 1j * target[:, 1]
    if len(z) == 1:
        return 0.0, 1.0
    zc, wc = z - z.mean(), w - w.mean()
    a = np.vdot(zc, wc) / max(np.vdot(zc, zc).real, 1e-12)
    residual = np.sum(np.abs(wc - a * zc) ** 2) / max(np.sum(np.abs(wc) ** 2), 1e-12)
    return float(residual), a


def match_groups(desktop_centres, photo_centres, desktop_widths, photo_widths):
    """Pairs groups with windows found: a list of (group index, found index) for as many as the
    smaller of the two sets, chosen so that the layout on the desktop maps best onto the photo
    by scale, rotation and shift, with the desktop's x and y keeping their directions and the
    layout's scale that of the windows themselves."""
    desktop = np.asarray(desktop_centres, float)
    photo = np.asarray(photo_centres, float)
    desktop_widths = np.asarray(desktop_widths, float)
    photo_widths = np.asarray(photo_widths, float)
    pairs = min(len(desktop), len(photo))
    if pairs == 0:
        return []
    if max(len(desktop), len(photo)) > MAX_MATCHED:
        groups = reading_order(desktop)[:pairs]
        found = reading_order(photo)[:pairs]
        return list(zip(groups, found))
    best, best_cost = None, np.inf
    # Every assignment of the smaller set to members of the larger one, in order.
    fewer_found = len(photo) < len(desktop)
    for chosen in permutations(range(max(len(desktop), len(photo))), pairs):
        pairing = list(zip(chosen, range(pairs))) if fewer_found else list(
            zip(range(pairs), chosen))
        groups, found = (list(side) for side in zip(*pairing))
        size_scale = photo_widths[found].sum() / desktop_widths[groups].sum()
        cost = _layout_cost(desktop[groups], photo[found], size_scale)
        if cost < best_cost:
            best, best_cost = pairing, cost
    return best


def _layout_cost(desktop, photo, size_scale):
    residual, scale = _similarity_residual(desktop, photo)
    # A photo is never mirrored or upside down: the rotation stays within a quarter turn.
    turned = abs(np.angle(scale)) > np.pi / 4
    # The spacing of the windows and their sizes shrink alike (bezels aside).
    spacing = np.log(abs(scale) / size_scale) ** 2 if len(desktop) > 1 else 0.0
    return residual + spacing + (10.0 if turned else 0.0)
