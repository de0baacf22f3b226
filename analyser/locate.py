"""Finds the tool's windows in a photo: green outlines with two bars inside, on black.

All functions take the photo as arrays (BGR, uint8) or the greenness map made from it; the
corners they return are in photo coordinates, ordered top-left, top-right, bottom-right,
bottom-left.
"""

import cv2
import numpy as np

from analyser import cells, layout, perspective, regions
from analyser.pattern import EDGE

MIN_SIDE_PX = 24  # a window smaller than this in the photo is not looked at
MIN_LEVEL = 40  # bars less green than this (0 .. 255) are no pattern


def greenness(photo):
    """How much greener than red and blue each pixel is: G - max(R, B), float32, 0 .. 255."""
    blue, green, red = cv2.split(photo)
    # uint8 arithmetic saturates at 0, as the clip to 0 asks.
    return cv2.subtract(green, cv2.max(red, blue)).astype(np.float32)


def green_level(green):
    """The greenness of a lit bar: a high percentile of the map (the bars may light well under
    a thousandth of a wide photo), so that a few odd pixels do not set it."""
    sample = green[::2, ::2]
    return float(np.percentile(sample, 99.97))


def order_corners(points):
    """Four points ordered top-left, top-right, bottom-right, bottom-left: clockwise on the
    photo (y downwards) from the one nearest the photo's top-left corner."""
    centre = points.mean(axis=0)
    angles = np.arctan2(points[:, 1] - centre[1], points[:, 0] - centre[0])
    clockwise = points[np.argsort(angles)]
    return np.roll(clockwise, -int(np.argmin(clockwise.sum(axis=1))), axis=0)


def _region_cells(region, layouts):
    """The outlines (corners in the region's map pixels) of the windows a lit region holds."""
    rows = perspective.fit_family(region.points, region.weights, 0.0, region.size)
    columns = perspective.fit_family(region.points, region.weights, np.pi / 2, region.size)
    to_view = perspective.rectifying_homography(rows, columns, region.points.mean(axis=0))
    view, origin = perspective.view_of(region.points, region.weights, to_view)
    box = [0, 0, view.shape[1] - 1, view.shape[0] - 1]
    for axis in (0, 1):
        extent = cells.outer_lines(view, box, axis)
        if extent is None:
            return []
        box[axis], box[axis + 2] = extent
    to_map = np.linalg.inv(to_view)
    outlines = []
    for cell in cells.split(view, tuple(box), layouts):
        if not cell.clean:
            continue
        x0, y0, x1, y1 = cell.box
        corners = np.array([[x0, y0], [x1, y0], [x1, y1], [x0, y1]], float) + origin
        outlines.append(cv2.perspectiveTransform(corners[None], to_map)[0])
    return outlines


def find_windows(photo, groups=()):
    """Every window of the pattern in the photo, as a list of candidate coarse outlines (float
    arrays 4 x 2, photo coordinates), the likeliest first; the greenness map they are read
    from; and how many lit shapes were too small to be read. groups, the tool's argument
    groups, tell the spacings of windows that abut."""
    green = greenness(photo)
    if green_level(green) < MIN_LEVEL:
        return [], green, 0
    height, width = green.shape
    factor = min(1.0, regions.COARSE_SIDE / max(height, width))
    small = green if factor == 1.0 else cv2.resize(
        green, (int(round(width * factor)), int(round(height * factor))),
        interpolation=cv2.INTER_AREA)
    norm = regions.pattern_map(small)
    spacings = layout.spacings(groups)
    lit, too_small = regions.lit_regions(norm)
    found = []
    for region in lit:
        for outline in _region_cells(region, spacings):
            outline = order_corners(outline.astype(np.float32)).astype(float) / factor
            sides = np.linalg.norm(outline - np.roll(outline, 1, axis=0), axis=1)
            if sides.min() < MIN_SIDE_PX:
                too_small += sides.max() >= MIN_SIDE_PX / 3
                continue
            found.append([outline])
    return found, green, too_small


def refine_corners(green, corners, width, height, samples=48):
    """Corners of the frame lines' centre lines, found to a fraction of a photo pixel by fitting
    a straight line through the ridge of each side, and the window coordinates they stand for.

    The frame is EDGE pixels wide, so its centre lines lie at u = 1 and u = width - 1, v = 1 and
    v = height - 1 in window coordinates.
    """
    lines = []
    for side in range(4):
        start, end = corners[side], corners[(side + 1) % 4]
        lines.append(_fit_side(green, start, end, samples))
    refined = []
    for side in range(4):
        point = _intersect(lines[side - 1], lines[side])
        refined.append(point if point is not None else corners[side])
    inset = EDGE / 2
    window = np.array([[inset, inset], [width - inset, inset], [width - inset, height - inset],
                       [inset, height - inset]], float)
    return np.array(refined), window


def _fit_side(green, start, end, samples):
    """Line (point, direction) through the ridge of the frame line from start to end."""
    direction = (end - start) / max(np.linalg.norm(end - start), 1e-9)
    # The corners run clockwise on the photo (y downwards), so the inside lies to the right of
    # the direction of travel.
    inward = np.array([-direction[1], direction[0]])
    along = np.linspace(0.06, 0.94, samples)
    # The outline came from the outer edge of the own frame line, so its ridge lies just inside;
    # a neighbour's frame lies outside, beyond the bezel.
    offsets = np.arange(-3.0, 8.01, 0.5)
    base = start + along[:, None] * (end - start)
    points = base[:, None, :] + offsets[None, :, None] * inward
    map_x = points[..., 0].astype(np.float32)
    map_y = points[..., 1].astype(np.float32)
    profile = cv2.remap(green, map_x, map_y, cv2.INTER_LINEAR, borderValue=0)
    profile = profile - profile.min(axis=1, keepdims=True)
    peak = np.argmax(profile, axis=1)
    window = np.abs(np.arange(len(offsets))[None, :] - peak[:, None]) <= 4
    weights = profile * window
    total = weights.sum(axis=1)
    ridge = (weights * offsets[None, :]).sum(axis=1) / np.maximum(total, 1e-9)
    keep = total > 0.25 * np.median(total)
    ridge_points = base[keep] + ridge[keep, None] * inward
    if len(ridge_points) < 4:
        return start, direction
    line = cv2.fitLine(ridge_points.astype(np.float32), cv2.DIST_HUBER, 0, 0.01, 0.01)
    return np.array([line[2, 0], line[3, 0]]), np.array([line[0, 0], line[1, 0]])


def _intersect(first, second):
    (p, d), (q, e) = first, second
    matrix = np.array([d, -e]).T
    if abs(np.linalg.det(matrix)) < 1e-9:
        return None
    s, _ = np.linalg.solve(matrix, q - p)
    return p + s * d
