"""Finds the tool's windows in a photo: green outlines with two bars inside, on black.

All functions take the photo as arrays (BGR, uint8) or the greenness map made from it; the
corners they return are in photo coordinates, ordered top-left, top-right, bottom-right,
bottom-left.
"""

import cv2
import numpy as np

from analyser.pattern import EDGE

MIN_SIDE_PX = 24  # a window smaller than this in the photo is not looked at
# The frame and bars light at most this share of a window's outline area; a solid green object
# lights nearly all of it.
MAX_FILL = 0.45


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


def pattern_mask(green, level):
    """Pixels that belong to a lit frame or bar: a low threshold for the faint frame lines,
    kept only in components that also hold strongly lit pixels (hysteresis)."""
    # Light smoothing only: the dark gap between two displays may be a few pixels wide.
    smooth = cv2.GaussianBlur(green, (0, 0), 0.7)
    noise = float(np.median(np.abs(smooth[::4, ::4] - np.median(smooth[::4, ::4])))) * 1.5
    weak = (smooth > max(0.14 * level, 6 * noise, 8.0)).astype(np.uint8)
    count, labels, stats, _ = cv2.connectedComponentsWithStats(weak, connectivity=4)
    strong = smooth > 0.5 * level
    strong_counts = np.bincount(labels[strong], minlength=count)
    return count, labels, stats, strong_counts, smooth


def _diagonal_extremes(points):
    """Top-left, top-right, bottom-right and bottom-left of a convex outline: its extremes along
    the diagonals, which holds for outlines turned by less than 45 degrees."""
    total, difference = points.sum(axis=1), points[:, 0] - points[:, 1]
    return points[[np.argmin(total), np.argmax(difference), np.argmax(total),
                   np.argmin(difference)]]


def outline_quad(component):
    """The four corners of a component's outer outline (a boolean mask), or None when the
    outline is not close to a quadrilateral (a frame line broken off at a corner)."""
    contours, _ = cv2.findContours(component.astype(np.uint8), cv2.RETR_EXTERNAL,
                                   cv2.CHAIN_APPROX_SIMPLE)
    hull = cv2.convexHull(max(contours, key=cv2.contourArea))
    hull_area = cv2.contourArea(hull)
    perimeter = cv2.arcLength(hull, True)
    # A polygon of four sides where the outline has them (strong keystone included), else the
    # extremes along the diagonals.
    candidates = [cv2.approxPolyDP(hull, share * perimeter, True)[:, 0, :]
                  for share in (0.005, 0.01, 0.02, 0.04)]
    candidates = [c for c in candidates if len(c) == 4]
    candidates.append(_diagonal_extremes(hull[:, 0, :]))
    for quad in candidates:
        quad = order_corners(quad.astype(np.float32))
        if cv2.contourArea(quad) >= 0.75 * hull_area:
            return quad.astype(float)
    return None


def order_corners(points):
    """Four points ordered top-left, top-right, bottom-right, bottom-left: clockwise on the
    photo (y downwards) from the one nearest the photo's top-left corner."""
    centre = points.mean(axis=0)
    angles = np.arctan2(points[:, 1] - centre[1], points[:, 0] - centre[0])
    clockwise = points[np.argsort(angles)]
    return np.roll(clockwise, -int(np.argmin(clockwise.sum(axis=1))), axis=0)


def _grown_component(smooth, labels, label, box, level, windows):
    """The component grown through fainter pixels around it (never into another window's
    component; windows flags the labels that may be windows): the frame lines of a window seen
    small may be broken by noise and compression."""
    x, y, w, h = box
    x0, y0 = max(x - 4, 0), max(y - 4, 0)
    x1, y1 = min(x + w + 4, smooth.shape[1]), min(y + h + 4, smooth.shape[0])
    own = labels[y0:y1, x0:x1]
    # Faint pixels next to another window are that one's, however they connect.
    others = cv2.dilate((windows[own] & (own != label)).astype(np.uint8),
                        np.ones((7, 7), np.uint8))
    region = smooth[y0:y1, x0:x1]
    # Faint, but above what the surroundings show: a wall may itself be a little green.
    surroundings = region[own == 0]
    floor = max(0.06 * level, 2.0 * float(np.percentile(surroundings, 90))
                if surroundings.size else 0.0)
    faint = (own == label) | ((region > floor) & (own == 0) & ~others.astype(bool))
    count, grown = cv2.connectedComponents(faint.astype(np.uint8), connectivity=8)
    seeds = grown[own == label]
    keep = np.bincount(seeds[seeds > 0], minlength=count).argmax()
    return grown == keep, (x0, y0)


def find_windows(photo):
    """Every window of the pattern in the photo, as a list of candidate coarse outlines (float
    arrays 4 x 2), the likeliest first; the greenness map they were found in; and how many lit
    shapes were too small to be read."""
    green = greenness(photo)
    level = green_level(green)
    if level < 40:
        return [], green, 0
    count, labels, stats, strong_counts, smooth = pattern_mask(green, level)
    found = []
    too_small = 0
    may_be_window = strong_counts >= 0.1 * (stats[:, 2] + stats[:, 3])
    may_be_window[0] = False
    for label in range(1, count):
        x, y, w, h, area = stats[label]
        if not may_be_window[label]:
            continue
        if w < MIN_SIDE_PX or h < MIN_SIDE_PX:
            too_small += max(w, h) >= MIN_SIDE_PX / 3
            continue
        grown, (gx, gy) = _grown_component(smooth, labels, label, (x, y, w, h), level,
                                           may_be_window)
        candidates = []
        for component, (cx, cy) in ((grown, (gx, gy)),
                                    (labels[y:y + h, x:x + w] == label, (x, y))):
            quad = outline_quad(component)
            if quad is not None and _window_like(component, quad, green[
                    cy:cy + component.shape[0], cx:cx + component.shape[1]], level):
                candidates.append(quad + [cx, cy])
        if candidates:
            found.append(candidates)
    return _outermost(found), green, too_small


def _window_like(component, quad, green, level):
    """Whether a component's outline can be a window: sides long enough, lit lines rather
    than a lit area, dark panel between them."""
    if np.linalg.norm(quad - np.roll(quad, 1, axis=0), axis=1).min() < MIN_SIDE_PX:
        return False
    quad_area = cv2.contourArea(quad.astype(np.float32))
    return quad_area > 0 and component.sum() / quad_area <= MAX_FILL and _has_dark_inside(
        component, quad, green, level)


def _outermost(windows):
    """The windows (each a list of candidate outlines, the likeliest first) whose outline does
    not lie inside another's: a piece of a window's pattern broken off by a faint line is not a
    window of its own."""
    kept = []
    for window in windows:
        centre = tuple(float(c) for c in window[0].mean(axis=0))
        if not any(other is not window and cv2.pointPolygonTest(
                other[0].astype(np.float32), centre, False) > 0 for other in windows):
            kept.append(window)
    return kept


def _has_dark_inside(component, quad, green, level):
    """Whether the outline holds dark panel away from its lines: the four fields between the
    bars. A green patch or a lit area is not a window."""
    inside = np.zeros(component.shape, np.uint8)
    cv2.fillConvexPoly(inside, np.round(quad).astype(np.int32), 1)
    inside = cv2.erode(inside, np.ones((5, 5), np.uint8)).astype(bool)
    dark = inside & ~component & (green < 0.2 * level)
    return dark.sum() > 0.4 * inside.sum()


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
