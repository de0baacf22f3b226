"""Where a window must lie in a photo, from the windows around it that were read.

The tool's groups give each window's place on the wall (wall pixels: x to the right, y down);
the windows read give, each through its homography from window to photo coordinates, how the
wall lands in the photo near them. Between displays lie bezels the groups do not tell: one
bezel per display edge crossed, measured from neighbours that were both read. Quads are 4 x 2,
photo coordinates, ordered top-left, top-right, bottom-right, bottom-left.
"""

import cv2
import numpy as np

# A bezel under this many wall pixels leaves a window's frame line and its neighbour's as one.
SHARED_BEZEL_PX = 3.0
# Bezels tried, as shares of a display's size, where the windows read measure none: steps
# small enough that the frame lines lie within reach of the outline's tracing at one of them.
TRIAL_BEZEL_SHARES = (0.0, 0.015, 0.03, 0.045, 0.06, 0.08, 0.1)


def steps(groups):
    """Per group, how many display edges lie left of it and above it: the distinct left and
    top edges of the groups before its own."""
    lefts = sorted({g[0] for g in groups})
    tops = sorted({g[1] for g in groups})
    return np.array([(lefts.index(g[0]), tops.index(g[1])) for g in groups], float)


def _window_rect(group):
    """The window's corners in its own coordinates (pixels from its top-left)."""
    width, height = group[2], group[3]
    return np.array([[0, 0], [width, 0], [width, height], [0, height]], float)


def _mapped(homography, points):
    return cv2.perspectiveTransform(np.float64(points)[None], homography)[0]


def bezels(groups, known):
    """The bezel across x and across y, in wall pixels: from every two windows read in one row
    or one column of displays (known maps a group's index to its window-to-photo homography),
    how far the second lies beyond its place as seen through the first, per display edge
    between them; the median. An axis that no such pair measures takes the other's; neither, 0."""
    return bezel_trials(groups, known)[0]


def bezel_trials(groups, known):
    """The bezels (across x, across y) to place a window not read at, likeliest first: the one
    bezels measures, or where no two windows read measure one, widths from none to a wide one
    (TRIAL_BEZEL_SHARES of the displays' mean size)."""
    measured = _measured_bezels(groups, known)
    if measured == [None, None]:
        size = float(np.mean([g[2:4] for g in groups]))
        return [(share * size, share * size) for share in TRIAL_BEZEL_SHARES]
    return [tuple(m if m is not None else measured[1 - axis] for axis, m in enumerate(measured))]


def _measured_bezels(groups, known):
    """Per axis, the median bezel that pairs of windows read measure (see bezels), or None."""
    step = steps(groups)
    found = ([], [])
    for first, to_photo in known.items():
        for second, other in known.items():
            apart = step[second] - step[first]
            if np.count_nonzero(apart) != 1:
                continue
            photo = _mapped(other, _window_rect(groups[second]))
            seen = _mapped(np.linalg.inv(to_photo), photo) + np.float64(groups[first][:2])
            place = _window_rect(groups[second]) + np.float64(groups[second][:2])
            axis = int(np.argmax(np.abs(apart)))
            found[axis].append((seen - place).mean(axis=0)[axis] / apart[axis])
    return [float(np.median(f)) if f else None for f in found]


def predicted_quad(groups, index, known, bezel):
    """Where the window of groups[index] lies in the photo, seen through the read window
    nearest it on the wall (fewest display edges between them, then the nearest centre),
    beyond the bezels between them; None when none was read."""
    if not known:
        return None
    step = steps(groups)
    centre = np.float64(groups[index][:2]) + np.float64(groups[index][2:4]) / 2

    def distance(other):
        there = np.float64(groups[other][:2]) + np.float64(groups[other][2:4]) / 2
        return np.abs(step[other] - step[index]).sum(), float(np.linalg.norm(there - centre))

    nearest = min(known, key=distance)
    shift = (step[index] - step[nearest]) * np.float64(bezel)
    place = _window_rect(groups[index]) + np.float64(groups[index][:2]) - np.float64(
        groups[nearest][:2]) + shift
    return _mapped(known[nearest], place)


def shared_sides(groups, index, bezel):
    """Per side (top, right, bottom, left), whether the window's frame line and a neighbour's
    meet as one line: a group abuts it there on the wall and the bezel is too narrow to part
    their lines."""
    x, y, width, height = groups[index][:4]
    shared = []
    for side in range(4):
        axis = 1 - side % 2  # the top and bottom sides meet a neighbour across y
        if bezel[axis] >= SHARED_BEZEL_PX:
            shared.append(False)
            continue
        edge = (y, x + width, y + height, x)[side]
        low, high = (x, x + width) if axis == 1 else (y, y + height)
        shared.append(any(
            (g[1] + g[3], g[0], g[1], g[0] + g[2])[side] == edge
            and min(high, (g[0] + g[2], g[1] + g[3])[1 - axis]) > max(low, g[1 - axis])
            for other, g in enumerate(groups) if other != index))
    return tuple(shared)
