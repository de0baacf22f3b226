"""Finds the tool's windows in a photo: green outlines with two bars inside, on black.

All functions take the photo as arrays (BGR, uint8) or the greenness map made from it; the
corners they return are in photo coordinates, ordered top-left, top-right, bottom-right,
bottom-left.
"""

from dataclasses import dataclass

import cv2
import numpy as np

from analyser import cells, layout, perspective, regions
from analyser.pattern import EDGE

MIN_SIDE_PX = 24  # a window smaller than this in the photo is not looked at
MIN_LEVEL = 40  # bars less green than this (0 .. 255) are no pattern,
# unless at least this green and this many times greener than the photo's 95th percentile (a
# pattern washed out by glare and a flat tone curve stands far out of its photo; sensor noise
# alone reaches 35 in a noisy photo, at three or four times that percentile)
FAINT_LEVEL = 25
FAINT_CONTRAST = 6.0
# A side's line is looked for within this share of the window's extent across it, and at
# least SIDE_SEARCH_PX, either way of the coarse side.
SIDE_SEARCH = 0.02
SIDE_SEARCH_PX = 4.0
SIDE_CHUNKS = 16  # stretches of a side, each averaged along its length
CHUNK_PROFILES = 4
# Ridges of a chunk considered for its side's line; they lie on one line within this many
# photo pixels; lines as parallel, followed by this share of the chunks that follow the most
# followed, are told apart by nearness to the coarse side.
RIDGES_PER_CHUNK = 3
RIDGE_TOLERANCE_PX = 0.6
LINE_SUPPORT_SHARE = 0.85
AGREEING_SHARE = 0.6  # a side's ridges follow one line when this share of them lie on its fit
LOBE_SAMPLES = 4  # a lobe's centroid reaches this many profile samples either way
FAINT_SHARE = 0.1  # a frame line's ridge stands at least this share of the bars' light
# A shared side is looked at this far either way for two lines, each at least PAIR_SHARE of
# the stronger, with light between them falling under PAIR_DIP of the weaker.
PAIR_REACH_PX = 10.0
PAIR_SHARE = 0.4
PAIR_DIP = 0.85
SIDES_AGREE_PX = 0.5  # sides traced on two maps this close are one (refine_corners_on_either)
# A boundary shared with a neighbour is parted where the light across it shows the two frame
# lines at least this many window pixels apart (a narrow bezel), at most MAX_BEZEL_PX.
MIN_PARTED_PX = 1.0
MAX_BEZEL_PX = 8.0
PROFILE_STEP_PX = 0.25  # the light across a side is sampled this finely (photo pixels)
# A stretch of a side is crossed by a bar where the light this far inward of its ridge and on
# averages this share of the ridge's (a frame line has panel black inside it), in no more than
# this share of the side's stretches (a bar that lies along the side, at a turn of the sweep,
# lights all of them).
CROSSING_GAP_PX = 3.0
CROSSING_SHARE = 0.2
MOST_CROSSED_SHARE = 0.25
HULL_SLACK = 1.3  # a cell enclosing this much more than its lit points is skewed
BAR_GRID = 96  # a coarse grid over the window, for how bright its bars are
UNIT_SQUARE = ((0, 0), (1, 0), (1, 1), (0, 1))
_GRID_TO_UNIT = np.array([[1 / BAR_GRID, 0, 0.5 / BAR_GRID], [0, 1 / BAR_GRID, 0.5 / BAR_GRID],
                          [0, 0, 1]])


@dataclass
class Outline:
    """A window's outline in the photo: corners ordered top-left, top-right, bottom-right,
    bottom-left, and per side (top, right, bottom, left) whether it is one line shared with a
    neighbour that abuts, and whether it was traced along its frame line (else it is a coarse
    line, found on a smaller copy of the photo or placed by the windows around it)."""
    corners: np.ndarray
    shared: tuple = (False, False, False, False)
    traced: tuple = (False, False, False, False)


def greenness(photo):
    """How much greener than red and blue each pixel is: G - max(R, B), float32, 0 .. 255."""
    return green_excess(photo).astype(np.float32)


def line_greenness(photo):
    """greenness with red and blue each averaged over 3 x 3 pixels first, float32: a thin
    green line is placed by its green, which the sensor samples every other pixel and the
    file keeps at full resolution, not by the fringes of red and blue beside it that a Bayer
    sensor's interpolation and a JPEG's coarser colour leave (they moved a frame line by a
    third of a pixel, and some by pixels). Grey, yellow and cyan stay as dark as in
    greenness, where they are not finer than the average."""
    return line_green_excess(photo).astype(np.float32)


def line_green_excess(photo, out=None):
    """line_greenness as uint8, written into out where given (see green_excess)."""
    red, blue = (cv2.blur(photo[..., channel], (3, 3)) for channel in (2, 0))
    return cv2.subtract(photo[..., 1], cv2.max(red, blue, dst=red), dst=out)


def green_excess(photo, out=None):
    """greenness as uint8, which is cheaper where only a threshold of it is wanted; written
    into out (uint8, the photo's height and width) where given."""
    # uint8 arithmetic saturates at 0, as the clip to 0 asks; OpenCV reads the channels
    # in place, faster than it splits them.
    brighter = cv2.max(photo[..., 2], photo[..., 0], dst=out)
    return cv2.subtract(photo[..., 1], brighter, dst=brighter)


def shows_pattern(green):
    """Whether the greenness map (green) is lit enough to hold the pattern: its bars (a high
    percentile of the map, as they may light well under a thousandth of a wide photo, so that
    a few odd pixels do not set it) as green as MIN_LEVEL, or as FAINT_LEVEL and
    FAINT_CONTRAST times the photo's 95th percentile."""
    sample = green[::2, ::2]
    level, common = np.percentile(sample, [99.97, 95])
    return level >= MIN_LEVEL or (level >= FAINT_LEVEL and level >= FAINT_CONTRAST * common)


def _region_cells(region, layouts):
    """The candidate outlines (in the region's map pixels) of each window a lit region holds,
    the likeliest first: the cells of its rectified view, each side a line fitted through the
    lit points along it (which undoes what the view's one pair of line families gets wrong
    about a window); before it, where the cell encloses far more than its lit points, the
    outline of those points (see _within_points)."""
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
    seen = cv2.perspectiveTransform(region.points[None], to_view)[0] - origin
    to_map = np.linalg.inv(to_view)
    outlines = []
    for cell in cells.split(view, tuple(box), layouts):
        if not cell.clean:
            continue
        lines = [_side_line(region, seen, cell.box, side, to_map, origin) for side in range(4)]
        corners = [_intersect(lines[side - 1], lines[side]) for side in range(4)]
        if any(c is None for c in corners):
            continue
        corners = np.array(corners)
        hull = _within_points(corners, region.points[_in_box(seen, cell.box)])
        left, top, right, bottom = cell.shared
        shared = (top, right, bottom, left)
        outlines.append([Outline(hull, shared)] + (
            [Outline(corners, shared)] if hull is not corners else []))
    return outlines


def _in_box(seen, box, margin=3):
    x0, y0, x1, y1 = box
    return (seen[:, 0] >= x0 - margin) & (seen[:, 0] <= x1 + margin) & (
        seen[:, 1] >= y0 - margin) & (seen[:, 1] <= y1 + margin)


def _within_points(corners, points):
    """The cell's corners, or where they enclose much more than the smallest rectangle around
    its lit points (a view skewed by a family of lines fitted to too few, as when a window's top
    frame line is lost in glare), the corners of the four-sided outline around those points.
    (The bars alone, without the frame lines, span about that rectangle, if not its hull; but
    bars near two sides span a triangle, so the cell stays a candidate.)"""
    if len(points) < 4:
        return corners
    points = points.astype(np.float32)
    _, (width, height), _ = cv2.minAreaRect(points)
    if cv2.contourArea(corners.astype(np.float32)) <= HULL_SLACK * width * height:
        return corners
    quad = _four_sided(cv2.convexHull(points))
    return corners if quad is None else quad


def _four_sided(hull):
    """A convex hull simplified to four corners, ordered top-left, top-right, bottom-right,
    bottom-left; None where it will not simplify to four."""
    perimeter = cv2.arcLength(hull, True)
    low, high = 0.0, 0.2 * perimeter
    for _ in range(20):
        tolerance = (low + high) / 2
        quad = cv2.approxPolyDP(hull, tolerance, True)
        if len(quad) == 4:
            return _clockwise_from_top_left(quad[:, 0].astype(float))
        low, high = (tolerance, high) if len(quad) > 4 else (low, tolerance)
    return None


def _clockwise_from_top_left(quad):
    centre = quad.mean(axis=0)
    angle = np.arctan2(quad[:, 1] - centre[1], quad[:, 0] - centre[0])
    quad = quad[np.argsort(angle)]  # clockwise on the photo, as y runs down
    return np.roll(quad, -int(np.argmin(quad.sum(axis=1))), axis=0)


def _side_line(region, seen, box, side, to_map, origin):
    """Line (point, direction) of a cell's side (0 top, 1 right, 2 bottom, 3 left) in map
    pixels: fitted through the region's lit points within a few view pixels of it, away from
    its ends, as an offset across the side that changes linearly along it (and by no more than
    the band allows); the side as the view has it where too few points lie there."""
    x0, y0, x1, y1 = box
    axis = side % 2  # the top and bottom sides lie across y, the others across x
    at = (y0, x1, y1, x0)[side]
    low, high = (x0, x1) if axis == 0 else (y0, y1)
    length = max(high - low, 1e-9)
    band = max(2.5, cells.SKEW_SHARE * length)
    across, along = (seen[:, 1], seen[:, 0]) if axis == 0 else (seen[:, 0], seen[:, 1])
    near = (np.abs(across - at) <= band) & (along > low + 0.05 * length) & (
        along < high - 0.05 * length)
    offsets = (0.0, 0.0)
    if np.count_nonzero(near) >= 10:
        fitted = _robust_line((along[near] - low) / length, across[near] - at,
                              region.weights[near])
        if fitted is not None and all(abs(fitted[0] + fitted[1] * t) <= band for t in (0, 1)):
            offsets = (fitted[0], fitted[0] + fitted[1])
    ends = np.array([[low, at + offsets[0]], [high, at + offsets[1]]])
    if axis == 1:
        ends = ends[:, ::-1]
    ends = cv2.perspectiveTransform((ends + origin)[None], to_map)[0]
    return ends[0], (ends[1] - ends[0]) / np.linalg.norm(ends[1] - ends[0])


def find_windows(photo, groups=()):
    """Every window of the pattern in the photo, as a list of candidate coarse outlines
    (Outline, photo coordinates), the likeliest first; the greenness map they are read from;
    and how many lit shapes were too small to be read. groups, the tool's argument groups,
    tell the spacings of windows that abut."""
    green = greenness(photo)
    if not shows_pattern(green):
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
        for candidates in _region_cells(region, spacings):
            for outline in candidates:
                outline.corners = outline.corners / factor
            sides = np.linalg.norm(candidates[0].corners
                                   - np.roll(candidates[0].corners, 1, axis=0), axis=1)
            if sides.min() < MIN_SIDE_PX:
                too_small += sides.max() >= MIN_SIDE_PX / 3
                continue
            found.append(candidates)
    return found, green, too_small


def refine_corners(green, outline):
    """The window's outline traced to a fraction of a photo pixel (an Outline): its corners
    where the lines of its sides meet, each fitted through the ridge of the side's line (the
    frame line's centre line, or the boundary where a neighbour abuts; see frame_points). A
    side whose frame line is too faint to trace keeps its coarse line. A side taken for one
    line shared with a neighbour that shows two lines apart is the inner one's, and not
    shared."""
    return _refined_on_maps([green], outline)[0]


def refine_corners_on_either(maps, outline, agree_px=SIDES_AGREE_PX):
    """refine_corners on two maps (sharp, weighted): each side as traced on the sharp one,
    except where the weighted one traces it more than agree_px (photo pixels) away, there as
    traced on that. The sharp map places a frame line best where nothing lit lies beside it;
    where something does, the weighted map, which does not light that, keeps the side on the
    line."""
    outlines = _refined_on_maps(maps, outline)
    lines, shared, traced = [], [], []
    for side in range(4):
        ends = [(o.corners[side], o.corners[(side + 1) % 4]) for o in outlines]
        apart = np.linalg.norm(sum(ends[0]) / 2 - sum(ends[1]) / 2)
        pick = 0 if apart <= agree_px else 1
        lines.append(_line_through(*ends[pick]))
        shared.append(outlines[pick].shared[side])
        traced.append(outlines[pick].traced[side])
    return Outline(_meeting_points(lines, outlines[1].corners), tuple(shared), tuple(traced))


def _refined_on_maps(maps, outline):
    """refine_corners on each of the maps, with every side of every map fitted in one pass (a
    side's fit is a few small array operations, whose overhead is most of its cost)."""
    corners = outline.corners
    floors = [_faint_floor(green, corners) for green in maps]
    profiles = [_side_profile(green, corners, side) for green in maps for side in range(4)]
    lines = _fit_sides(profiles, np.repeat(floors, 4))
    refined = []
    for index, (green, floor) in enumerate(zip(maps, floors)):
        sides, shared, traced = [], list(outline.shared), []
        for side in range(4):
            line = lines[4 * index + side]
            traced.append(line is not None)
            if line is None:
                line = _line_through(corners[side], corners[(side + 1) % 4])
            if shared[side]:
                inner = _inner_of_pair(green, line, corners, side, floor)
                if inner is not None:
                    line, shared[side] = inner, False
            sides.append(line)
        refined.append(Outline(_meeting_points(sides, corners), tuple(shared), tuple(traced)))
    return refined


def ridge_points(green, outline):
    """Where the frame lines of an outline's sides run, stretch by stretch: per side (top,
    right, bottom, left), the points (n x 2, photo coordinates) of the ridges nearest the
    coarse side that stand clear of the faint floor, and their prominences (n). A stretch
    that a bar crosses is left out: the bar's light inward of the line draws its ridge in."""
    corners = outline.corners
    floor = _faint_floor(green, corners)
    sides = []
    for side in range(4):
        profile = _side_profile(green, corners, side)
        offset, light = _nearest_ridges(*_ridges(profile.chunks, profile.offsets))
        clear = (light >= floor) & ~_crossed(profile.chunks[None], profile.offsets,
                                             offset[None], light[None])[0]
        points = (profile.start + profile.positions[:, None] * (profile.end - profile.start)
                  + offset[:, None] * profile.inward)
        sides.append((points[clear], light[clear]))
    return sides


def _faint_floor(green, corners):
    """The light a frame line's ridge must stand above its surroundings: FAINT_SHARE of the
    bars' light in the window (a high percentile over a coarse grid of it)."""
    to_photo = cv2.getPerspectiveTransform(np.float32(UNIT_SQUARE), np.float32(corners))
    grid = cv2.warpPerspective(green, to_photo @ _GRID_TO_UNIT, (BAR_GRID, BAR_GRID),
                               flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP)
    return FAINT_SHARE * max(float(np.percentile(grid, 99)), 1.0)


def _inner_of_pair(green, line, corners, side, floor):
    """Where a side traced as one line shows two, a narrow bezel apart (the frame lines of two
    windows that nearly abut): the inner line, or None. The light across the side is averaged
    along its whole length, so that both lines stand out however faint; each must stand floor
    above the panel around it (a compressed video rings beside a line, fainter)."""
    offsets, samples, first, inward = _light_across(green, line, corners, side, PAIR_REACH_PX)
    profile = samples.mean(axis=0)
    profile = profile - np.median(profile)
    peaks = np.nonzero((profile[1:-1] > profile[:-2]) & (profile[1:-1] >= profile[2:]) & (
        profile[1:-1] >= max(PAIR_SHARE * profile.max(), floor)))[0] + 1
    if len(peaks) < 2:
        return None
    # The two strongest, with a clear dip between them.
    low, high = sorted(peaks[np.argsort(profile[peaks])[-2:]])
    if profile[low:high + 1].min() > PAIR_DIP * min(profile[low], profile[high]):
        return None
    return first + offsets[high] * inward, line[1]


def _light_across(green, line, corners, side, reach):
    """The light across a side's line (point, direction) at 32 places from a tenth to nine
    tenths of the side's length (corners, the outline's): the offsets across (photo pixels,
    inwards positive, PROFILE_STEP_PX apart, to reach either way), the samples (places x
    offsets), the line's point level with the side's first corner, and the inward normal."""
    point, direction = line
    inward = np.array([-direction[1], direction[0]])
    length = np.linalg.norm(corners[(side + 1) % 4] - corners[side])
    along = np.linspace(0.1, 0.9, 32) * length
    offsets = np.arange(-reach, reach + 0.01, PROFILE_STEP_PX)
    first = point + direction * ((corners[side] - point) @ direction)
    points = first + along[:, None, None] * direction + offsets[None, :, None] * inward
    samples = cv2.remap(green, points[..., 0].astype(np.float32),
                        points[..., 1].astype(np.float32), cv2.INTER_LINEAR)
    return offsets, samples, first, inward


def parted_sides(green, outline, scales):
    """The outline with each side shared with a neighbour moved to its own frame line where
    the light across it shows the two windows' frame lines a narrow bezel apart (MIN_PARTED_PX
    to MAX_BEZEL_PX window pixels), and no longer shared: blurred together they make one
    ridge, centred on the bezel rather than on the windows' edge. The bezel is read from that
    ridge's width against a model of two frame lines EDGE window pixels wide, blurred as the
    window's unshared sides show its frame lines blurred (their own light across fitted by one
    such line); without an unshared traced side the outline is returned as it is. scales: per
    side, photo pixels per window pixel across it."""
    if not any(outline.shared):
        return outline
    sides = [(outline.corners[side], outline.corners[(side + 1) % 4]) for side in range(4)]
    lines = [_line_through(*ends) for ends in sides]
    reach = 1.5 * max(scales) * (EDGE + MAX_BEZEL_PX / 2) + 4.0
    single = [_single_line_blur(*_median_light(green, lines[side], outline.corners, side,
                                               reach), scales[side])
              for side in range(4) if outline.traced[side] and not outline.shared[side]]
    single = [blur for blur in single if blur is not None]
    if not single:
        return outline
    blur = float(np.median(single))
    shared = list(outline.shared)
    for side in range(4):
        if not shared[side]:
            continue
        offsets, light = _median_light(green, lines[side], outline.corners, side, reach)
        centre, apart = _pair_apart(offsets, light, scales[side], blur)
        # apart: from the bezel's middle to each frame line's, EDGE / 2 + bezel / 2 pixels
        if apart / scales[side] - EDGE / 2 < MIN_PARTED_PX / 2:
            continue
        point, direction = lines[side]
        inward = np.array([-direction[1], direction[0]])
        lines[side] = (point + (centre + apart) * inward, direction)
        shared[side] = False
    return Outline(_meeting_points(lines, outline.corners), tuple(shared), outline.traced)


def _median_light(green, line, corners, side, reach):
    """The light across a side (_light_across), the median along it, above its floor (the
    profile's own median): a bar that crosses the side lights a few places only."""
    offsets, samples, _, _ = _light_across(green, line, corners, side, reach)
    light = np.median(samples, axis=0)
    return offsets, light - np.median(light)


def _blurred_lines(offsets, centres, half_width, blur):
    """The light across lines half_width photo pixels either side of each centre (rows of
    centres: one model per row), blurred by a Gaussian of blur pixels: models x offsets."""
    centres = np.atleast_2d(centres)
    scale = np.sqrt(2.0) * blur
    light = np.zeros((len(centres), len(offsets)))
    for column in range(centres.shape[1]):
        relative = offsets[None, :] - centres[:, column:column + 1]
        light += _erf((relative + half_width) / scale) - _erf((relative - half_width) / scale)
    return light / 2


def _erf(values):
    """The error function (Abramowitz and Stegun 7.1.26, to 1.5e-7)."""
    sign, x = np.sign(values), np.abs(values)
    t = 1.0 / (1.0 + 0.3275911 * x)
    poly = t * (0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (
        -1.453152027 + t * 1.061405429))))
    return sign * (1.0 - poly * np.exp(-x * x))


def _best_fit(light, models):
    """Of models (rows, offsets as light), the index of the one that fits light best as
    a * model + b by least squares."""
    design_mean = models.mean(axis=1, keepdims=True)
    centred = models - design_mean
    target = light - light.mean()
    gain = (centred @ target) / np.maximum((centred * centred).sum(axis=1), 1e-12)
    misses = ((target[None, :] - gain[:, None] * centred) ** 2).sum(axis=1)
    return int(np.argmin(np.where(gain > 0, misses, np.inf)))


def _single_line_blur(offsets, light, scale):
    """The blur (Gaussian, photo pixels) that makes one frame line, EDGE window pixels wide at
    scale photo pixels per window pixel, fit the light across a side best; None where no
    frame line stands out there."""
    if light.max() <= 0:
        return None
    blurs = np.arange(0.3, 3.01, 0.1)
    centres = np.arange(-1.5, 1.51, 0.1)
    grid_blur, grid_centre = np.meshgrid(blurs, centres, indexing="ij")
    models = np.vstack([_blurred_lines(offsets, centres[:, None], EDGE / 2 * scale, blur)
                        for blur in blurs])
    return float(grid_blur.ravel()[_best_fit(light, models)])


def _pair_apart(offsets, light, scale, blur):
    """Where the light across a shared side has its two frame lines: their middle (photo
    pixels across the traced line, inwards positive) and how far each lies from it (photo
    pixels), by a fit of two frame lines EDGE window pixels wide at scale photo pixels per
    window pixel, blurred by blur pixels, from abutting to MAX_BEZEL_PX apart."""
    aparts = scale * (EDGE / 2 + np.arange(0.0, MAX_BEZEL_PX / 2 + 0.01, 0.125))
    middles = np.arange(-2.0, 2.01, 0.05)
    grid_apart, grid_middle = np.meshgrid(aparts, middles, indexing="ij")
    centres = np.stack([(grid_middle - grid_apart).ravel(), (grid_middle + grid_apart).ravel()],
                       axis=1)
    best = _best_fit(light, _blurred_lines(offsets, centres, EDGE / 2 * scale, blur))
    return float(grid_middle.ravel()[best]), float(grid_apart.ravel()[best])


def _meeting_points(lines, fallback):
    points = []
    for side in range(4):
        point = _intersect(lines[side - 1], lines[side])
        points.append(point if point is not None else fallback[side])
    return np.array(points)


def frame_points(width, height, shared):
    """The window coordinates of the corners refine_corners finds: the frame is EDGE pixels
    wide, so its centre lines lie at u = 1 and u = width - 1, v = 1 and v = height - 1; a side
    shared with a neighbour that abuts shows both frame lines as one, centred on the edge."""
    top, right, bottom, left = (0.0 if s else EDGE / 2 for s in shared)
    return np.array([[left, top], [width - right, top], [width - right, height - bottom],
                     [left, height - bottom]], float)


@dataclass
class _SideProfile:
    """The light across a side, from start to end (photo coordinates), averaged along each of
    SIDE_CHUNKS stretches of it: chunks (SIDE_CHUNKS x offsets), each stretch's position along
    the side (0 .. 1), and the offsets across it (photo pixels, inwards positive)."""
    start: np.ndarray
    end: np.ndarray
    inward: np.ndarray
    chunks: np.ndarray
    positions: np.ndarray
    offsets: np.ndarray


def _side_profile(green, corners, side):
    """The _SideProfile of a side, looked at within max(SIDE_SEARCH_PX, SIDE_SEARCH of the
    window's extent across it) either way of the coarse side."""
    start, end = corners[side], corners[(side + 1) % 4]
    # How far the window reaches across this side: the mean of the sides beside it.
    across = (np.linalg.norm(corners[side] - corners[side - 1])
              + np.linalg.norm(corners[(side + 1) % 4] - corners[(side + 2) % 4])) / 2
    reach = max(SIDE_SEARCH_PX, SIDE_SEARCH * across)
    _, direction = _line_through(start, end)
    # The corners run clockwise on the photo (y downwards), so the inside lies to the right of
    # the direction of travel.
    inward = np.array([-direction[1], direction[0]])
    along = np.linspace(0.05, 0.95, SIDE_CHUNKS * CHUNK_PROFILES)
    offsets = np.arange(-reach, reach + 0.01, 0.5)
    base = start + along[:, None] * (end - start)
    points = base[:, None, :] + offsets[None, :, None] * inward
    profile = cv2.remap(green, points[..., 0].astype(np.float32),
                        points[..., 1].astype(np.float32), cv2.INTER_LINEAR, borderValue=0)
    chunks = profile.reshape(SIDE_CHUNKS, CHUNK_PROFILES, -1).mean(axis=1)
    positions = along.reshape(SIDE_CHUNKS, CHUNK_PROFILES).mean(axis=1)
    return _SideProfile(start, end, inward, chunks - chunks.min(axis=1, keepdims=True),
                        positions, offsets)


def _fit_sides(profiles, floors):
    """Per _SideProfile, the line (point, direction) through the ridge of its frame line: the
    ridge nearest the coarse side in each stretch, and a robust straight fit through them, of
    those whose ridge stands its floor above the rest; where those follow two lines, through
    the ridges of one of them (_one_line_of_ridges). None where too few ridges stand out.
    Sides looked at as far either way are fitted together."""
    lines = [None] * len(profiles)
    lengths = [len(p.offsets) for p in profiles]
    for length in set(lengths):
        batch = [i for i, n in enumerate(lengths) if n == length]
        offsets, positions = profiles[batch[0]].offsets, profiles[batch[0]].positions
        chunks = np.concatenate([profiles[i].chunks for i in batch])
        ridges, strengths = _ridges(chunks, offsets)
        chosen, light = _nearest_ridges(ridges, strengths)
        shape = (len(batch), SIDE_CHUNKS)
        chosen, light = chosen.reshape(shape), light.reshape(shape)
        floor = floors[batch][:, None]
        clear = light >= floor
        fitted = _robust_lines(positions, chosen, np.where(clear, light, 0.0))
        # Where the ridges nearest the coarse side follow two lines (two windows' frame lines
        # a narrow bezel apart, the coarse side between them), the fit runs askew across both.
        on_fit = np.abs(chosen - fitted[:, :1] - fitted[:, 1:] * positions) <= RIDGE_TOLERANCE_PX
        askew = np.count_nonzero(on_fit & clear, axis=1) < AGREEING_SHARE * np.count_nonzero(
            clear, axis=1)
        for row, index in enumerate(batch):
            line = fitted[row]
            if np.isnan(line[0]):
                continue
            if askew[row]:
                side = slice(row * SIDE_CHUNKS, (row + 1) * SIDE_CHUNKS)
                one, one_light = _one_line_of_ridges(positions, ridges[side], strengths[side],
                                                     floors[index])
                line = _robust_line(positions, one,
                                    np.where(one_light >= floors[index], one_light, 0.0))
                if line is None:
                    continue
            lines[index] = _line_across(profiles[index], line)
    return lines


def _crossed(chunks, offsets, ridges, light):
    """Which stretches of each side a bar crosses (see CROSSING_SHARE), given per side (first
    axis) its chunks' profiles, and per chunk its ridge's offset and light: the bar's light
    inward of the line draws the ridge towards it."""
    inward = offsets[None, None, :] > ridges[..., None] + CROSSING_GAP_PX
    inner = (chunks * inward).sum(axis=-1) / np.maximum(inward.sum(axis=-1), 1)
    lit = inner >= CROSSING_SHARE * light
    return lit & (lit.mean(axis=-1, keepdims=True) <= MOST_CROSSED_SHARE)


def _nearest_ridges(ridges, strengths):
    """Of each chunk's ridges (see _ridges), the one nearest the coarse side: (offset,
    prominence) per chunk."""
    rows = np.arange(len(ridges))
    nearest = np.argmin(np.where(strengths > 0, np.abs(ridges), np.inf), axis=1)
    return ridges[rows, nearest], strengths[rows, nearest]


def _line_across(profile, fitted):
    """The line (point, direction) in photo coordinates of offset c0 + c1 * position across
    the profile's side."""
    return _line_through(*(profile.start + a * (profile.end - profile.start)
                           + (fitted[0] + fitted[1] * a) * profile.inward for a in (0.0, 1.0)))


def _line_through(start, end):
    """The line (point, direction) from start through end (photo coordinates), the direction
    a unit vector."""
    return start, (end - start) / max(np.linalg.norm(end - start), 1e-9)


def _ridges(chunks, offsets):
    """The ridges of each chunk's profile across a side: of its local maxima of at least half
    the chunk's highest, the RIDGES_PER_CHUNK nearest the coarse side, nearest first, each
    placed at the centroid of its own lobe (so that a neighbour's line close by does not pull
    it). Returns (offsets, prominences), both chunks x RIDGES_PER_CHUNK, the prominence 0
    where a chunk has fewer."""
    count = len(chunks)
    top = chunks.max(axis=1)
    peak = _peaks(chunks) & (chunks >= 0.5 * top[:, None])
    # A chunk without a local maximum (its light rising to one end) has its highest sample.
    lone = ~peak.any(axis=1)
    peak[lone, np.argmax(chunks[lone], axis=1)] = True
    distance = np.where(peak, np.abs(offsets)[None, :], np.inf)
    peaks = np.argsort(distance, axis=1, kind="stable")[:, :RIDGES_PER_CHUNK]
    chosen = (np.take_along_axis(distance, peaks, axis=1) < np.inf) & (top > 0)[:, None]
    rows = np.broadcast_to(np.arange(count)[:, None], peaks.shape)
    ridges = _lobe_centroids(chunks, offsets, rows, peaks)
    return np.where(chosen, ridges, 0.0), np.where(chosen, chunks[rows, peaks], 0.0)


def _peaks(profiles):
    """Where each row of profiles has a local maximum: the light rises into it and falls after
    it, a flat top counted whole. A flat shoulder on the slope of a higher peak is none (a
    greenness map of 8-bit values has many, and the nearest of them to a coarse side had been
    taken for the frame line)."""
    steps = np.sign(np.diff(profiles, axis=1))
    columns = np.arange(steps.shape[1])
    # The last step that changed the light at or before each step, and the first at or after.
    last = np.maximum.accumulate(np.where(steps != 0, columns, -1), axis=1)
    first = np.minimum.accumulate(np.where(steps != 0, columns, steps.shape[1])[:, ::-1],
                                  axis=1)[:, ::-1]
    rows = np.arange(len(profiles))[:, None]
    rising = steps[rows, np.maximum(last, 0)] * (last >= 0) > 0
    falling = steps[rows, np.minimum(first, steps.shape[1] - 1)] * (first < steps.shape[1]) < 0
    peak = np.zeros(profiles.shape, bool)
    peak[:, 1:-1] = rising[:, :-1] & falling[:, 1:]
    return peak


def _lobe_centroids(profiles, offsets, rows, peaks):
    """Centroid of the light of the lobe around each peak (profiles[rows, peaks]; a flat top
    included), down to where it rises again (at most LOBE_SAMPLES either way), above the lower
    of the lobe's two ends; the peak's own offset where the lobe holds no light above them."""
    length = profiles.shape[1]
    steps = np.arange(1, LOBE_SAMPLES + 1)
    row_of = rows[..., None]
    reach = []
    for sign in (-1, 1):
        outer = peaks[..., None] + sign * steps
        inside = (outer >= 0) & (outer < length)
        falls = inside & (profiles[row_of, np.clip(outer, 0, length - 1)]
                          <= profiles[row_of, np.clip(outer - sign, 0, length - 1)])
        # The lobe reaches as far as the light falls without a break.
        reach.append(np.cumprod(falls, axis=-1).sum(axis=-1))
    span = np.arange(-LOBE_SAMPLES, LOBE_SAMPLES + 1)
    index = np.clip(peaks[..., None] + span, 0, length - 1)
    within = (span >= -reach[0][..., None]) & (span <= reach[1][..., None])
    ends = np.minimum(profiles[rows, peaks - reach[0]], profiles[rows, peaks + reach[1]])
    weights = np.where(within, profiles[row_of, index] - ends[..., None], 0.0)
    total = weights.sum(axis=-1)
    centroid = (weights * offsets[index]).sum(axis=-1) / np.where(total > 0, total, 1.0)
    return np.where(total > 0, centroid, offsets[peaks])


def _one_line_of_ridges(positions, ridges, strengths, floor):
    """Of each chunk's ridges, the one on the straight line that the most chunks' ridges
    follow; of lines about as parallel and followed almost as well, the one nearest the coarse
    side. Returns (offset, prominence) per chunk; a chunk with no ridge on that line gets
    prominence 0."""
    lit = strengths >= floor
    chunk_of = np.nonzero(lit)[0]
    at, value = positions[chunk_of], ridges[lit]
    first, second = np.triu_indices(len(at), 1)
    apart = np.abs(at[first] - at[second]) >= 0.25
    first, second = first[apart], second[apart]
    if not len(first):
        return ridges[:, 0], np.zeros(len(positions))
    slope = (value[second] - value[first]) / (at[second] - at[first])
    intercept = value[first] - slope * at[first]
    near = np.abs(intercept[:, None] + slope[:, None] * at[None, :] - value[None, :]) <= (
        RIDGE_TOLERANCE_PX)
    # How many chunks have a ridge on each line through two ridges.
    on_line = np.zeros((len(slope), len(positions)), bool)
    np.logical_or.at(on_line, (slice(None), chunk_of), near)
    support = on_line.sum(axis=1)
    best = np.argmax(support)
    rival = (support >= LINE_SUPPORT_SHARE * support[best]) & (
        np.abs(slope - slope[best]) <= RIDGE_TOLERANCE_PX)
    best = np.argmin(np.where(rival, np.abs(intercept + 0.5 * slope), np.inf))
    expected = intercept[best] + slope[best] * positions
    distance = np.where(strengths > 0, np.abs(ridges - expected[:, None]), np.inf)
    pick = np.argmin(distance, axis=1)
    rows = np.arange(len(positions))
    chosen, prominence = ridges[rows, pick], strengths[rows, pick]
    return chosen, np.where(distance[rows, pick] <= RIDGE_TOLERANCE_PX, prominence, 0.0)


def _robust_line(positions, values, weights):
    """(c0, c1) of values = c0 + c1 * position by weighted least squares, with points far off
    the line given less weight and less (Tukey's biweight); None when too few points show a
    ridge."""
    fitted = _robust_lines(positions, values[None], weights[None])[0]
    return None if np.isnan(fitted[0]) else fitted


def _robust_lines(positions, values, weights):
    """_robust_line for each row of values and weights (lines x points; positions one row, or
    one per line): lines x 2, NaN where too few points show a ridge."""
    weights = np.where(weights > 0.25 * _row_medians(weights, weights > 0)[:, None], weights,
                       0.0)
    used = weights > 0
    fitted = np.full((len(values), 2), np.nan)
    active = np.count_nonzero(used, axis=1) >= 4
    current = weights
    for _ in range(5):
        if not np.any(active):
            break
        fitted[active] = _weighted_lines(positions, values, current, active)
        residual = values - fitted[:, :1] - fitted[:, 1:] * positions
        scale = np.maximum(1.4826 * _row_medians(np.abs(residual), used), 0.25)
        current = weights * np.maximum(1 - (residual / (4.685 * scale[:, None])) ** 2, 0) ** 2
        active &= np.count_nonzero(current, axis=1) >= 4
    return fitted


def _weighted_lines(x, y, weights, rows):
    """(c0, c1) of y = c0 + c1 * x by weighted least squares, for the given rows (x not all one
    value there)."""
    x = np.broadcast_to(x, y.shape)[rows]
    y, weights = y[rows], weights[rows]
    total = weights.sum(axis=1)
    mean_x, mean_y = (weights * x).sum(axis=1) / total, (weights * y).sum(axis=1) / total
    dx = x - mean_x[:, None]
    slope = (weights * dx * (y - mean_y[:, None])).sum(axis=1) / (weights * dx * dx).sum(axis=1)
    return np.stack([mean_y - slope * mean_x, slope], axis=1)


def _row_medians(values, mask):
    """The median of each row's values where mask holds (NaN for a row with none): a sort,
    which on rows of a few values costs a tenth of numpy's median."""
    count = np.count_nonzero(mask, axis=1)
    ordered = np.sort(np.where(mask, values, np.inf), axis=1)
    rows = np.arange(len(values))
    low, high = np.maximum((count - 1) // 2, 0), np.maximum(count // 2, 0)
    return np.where(count > 0, (ordered[rows, low] + ordered[rows, high]) / 2, np.nan)


def _intersect(first, second):
    (p, d), (q, e) = first, second
    matrix = np.array([d, -e]).T
    if abs(np.linalg.det(matrix)) < 1e-9:
        return None
    s, _ = np.linalg.solve(matrix, q - p)
    return p + s * d
