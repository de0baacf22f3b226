"""Where the bars end: both bars run from edge to edge of the window, five times as thick as
its frame lines, so where they stop shows the window's edges when the frame lines are too thin
for the camera (a sensor that skips pixels, compression, a grey panel).

Window coordinates are window pixels, u from the left edge and v from the top edge; photo
coordinates are photo pixels. to_photo is the homography from the first to the second.
"""

import cv2
import numpy as np

from analyser.pattern import BAR

# How far either way of an edge its bar's end is looked for: an outline off by up to this much
# is put right.
REACH_PHOTO_PX = 12.0
STEP_PHOTO_PX = 0.25  # the spacing of the samples along a bar
# A bar's end shows where the light beyond the edge stays under this share of the way from the
# panel's black to the bar; beyond an edge that abuts a neighbour whose bar goes on, it does
# not. It is judged over this stretch beyond the end, photo pixels.
DARK_BEYOND = 0.35
BEYOND_PHOTO_PX = (1.0, 3.0)
MIN_SHIFT_PHOTO_PX = 0.3  # an outline off by less is left as it is


def _profile(image, to_photo, starts, direction, distances):
    """Mean light along lines from starts (window points, one per line) in direction (window
    units), at distances: one value per distance."""
    points = starts[:, None, :] + distances[None, :, None] * np.asarray(direction, float)
    flat = points.reshape(-1, 1, 2).astype(np.float32)
    photo = cv2.perspectiveTransform(flat.reshape(1, -1, 2), to_photo)[0]
    values = cv2.remap(image, photo[:, 0].reshape(1, -1), photo[:, 1].reshape(1, -1),
                       cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
    return values.reshape(points.shape[:2]).mean(axis=0)


def end_distance(profile, distances, lit, black, per_photo_px):
    """Where a profile running out along a bar from inside it (distances rising outwards, in
    window pixels, per_photo_px to a photo pixel) first falls to half way between the bar's
    light lit and the light beyond: the end's distance, or None where the profile does not
    start on the bar, or the light beyond does not fall off to near the panel's black (or
    below: a bezel)."""
    crossing = _first_below(profile, distances, (lit + black) / 2)
    if crossing is None:
        return None
    low, high = (crossing + limit * per_photo_px for limit in BEYOND_PHOTO_PX)
    beyond = profile[(distances > low) & (distances < high)]
    if not len(beyond) or np.median(beyond) - black > DARK_BEYOND * (lit - black):
        return None
    return _first_below(profile, distances, (lit + float(np.median(beyond))) / 2)


def _first_below(profile, distances, half):
    below = np.nonzero(profile < half)[0]
    if not len(below) or below[0] == 0:
        return None
    index = int(below[0])
    high, low = profile[index - 1], profile[index]
    fraction = (high - half) / max(high - low, 1e-6)
    return float(distances[index - 1] + fraction * (distances[index] - distances[index - 1]))


def fit_edges(image, to_photo, width, height, bar_u, bar_v, lit, black, across):
    """The window's edges where the bars end, in the window coordinates of to_photo: (left,
    right, top, bottom), each None where its bar's end does not show. bar_u is the vertical
    bar's centre (u) near the top and near the bottom, bar_v the horizontal bar's centre (v),
    None where not read; lit the bars' light and black the panel's; across the window's width
    in photo pixels."""
    per_photo_px = width / max(across, 1.0)
    reach = REACH_PHOTO_PX * per_photo_px
    distances = np.arange(-reach, reach, STEP_PHOTO_PX * per_photo_px)
    across_bar = np.array([-0.25, 0.0, 0.25]) * BAR
    ends = []
    # (edge position, the bar's centre across it, line direction outwards, horizontal bar?)
    for edge, centre, direction, along_u in ((0.0, bar_v, (-1, 0), True),
                                             (width, bar_v, (1, 0), True),
                                             (0.0, bar_u[0], (0, -1), False),
                                             (height, bar_u[1], (0, 1), False)):
        if centre is None or np.isnan(centre):
            ends.append(None)
            continue
        starts = np.column_stack([np.full(3, edge), centre + across_bar]) if along_u else \
            np.column_stack([centre + across_bar, np.full(3, edge)])
        profile = _profile(image, to_photo, starts, direction, distances)
        found = end_distance(profile, distances, lit, black, per_photo_px)
        ends.append(None if found is None else edge + found * sum(direction))
    return tuple(ends)


def refitted(to_photo, width, height, edges, across):
    """to_photo moved and scaled so that the window's edges lie where found (edges as from
    fit_edges, None keeping the outline's), or None when no edge moves by MIN_SHIFT_PHOTO_PX."""
    left, right, top, bottom = (found if found is not None else default for found, default in
                                zip(edges, (0.0, width, 0.0, height)))
    shift = max(abs(left), abs(right - width), abs(top), abs(bottom - height))
    if shift * across / width < MIN_SHIFT_PHOTO_PX or right <= left or bottom <= top:
        return None
    corrected = np.array([[(right - left) / width, 0, left],
                          [0, (bottom - top) / height, top], [0, 0, 1]])
    return to_photo @ corrected
