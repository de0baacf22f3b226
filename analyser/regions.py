"""Where the pattern lies in a photo, before any window is told apart: a map of thin green
structures above their surroundings, and the regions of the photo that it lights.

Maps are float32 arrays of the photo's shape (or of a coarse copy of it); points are photo
coordinates (x right, y down) in that map's pixels.
"""

from dataclasses import dataclass

import cv2
import numpy as np

COARSE_SIDE = 2000  # windows are told apart on a copy of the photo at most this large
BACKGROUND_PX = 61  # greenness over this many pixels around is the background
# A structure is measured against the brightest pattern within this share of the diagonal: a
# window's frame lines and bars together, a window paled by glare alone.
NEAR_SHARE = 0.05
LIT_LEVEL = 0.35  # a structure is lit above this share of the pattern near it
FLOOR_SHARE = 0.3  # far from any pattern, structures are measured against this much of the
# photo's brightest
SOLID_SHARE = 0.0125  # lit areas wider than this share of the diagonal are no pattern
JOIN_SHARE = 0.008  # pieces of pattern this close (share of the diagonal) are one region
MIN_REGION_PX = 24
MIN_REGION_POINTS = 40


@dataclass
class Region:
    points: np.ndarray  # n x 2, the lit points
    weights: np.ndarray  # n, how brightly each is lit (about 1 on bars)
    box: tuple  # x, y, width, height of the region

    @property
    def size(self):
        return float(max(self.box[2], self.box[3]))


def _background(green):
    """The greenness of what lies behind the pattern: a median over BACKGROUND_PX, wide enough
    that where two bars cross they still light under half of it, taken on a quarter-size copy
    (the background is smooth)."""
    height, width = green.shape
    small = cv2.resize(np.clip(green, 0, 255).astype(np.uint8),
                       (max(1, width // 4), max(1, height // 4)), interpolation=cv2.INTER_AREA)
    median = cv2.medianBlur(small, BACKGROUND_PX // 4 | 1)
    return cv2.resize(median, (width, height), interpolation=cv2.INTER_LINEAR).astype(np.float32)


def pattern_map(green):
    """Thin green structures above their surroundings, in units of the pattern near them: about
    1 on the bars, a share of that on the frame lines, about 0 on panels, bezels and walls. The
    surroundings' own greenness (a tinted wall, a panel's glow, glare) is taken out, and a
    window paled by glare is measured against its own bars."""
    structure = np.maximum(green - _background(green), 0)
    near_px = max(3, int(NEAR_SHARE * np.hypot(*green.shape))) | 1
    square = np.ones((near_px, near_px), np.uint8)
    near = cv2.dilate(cv2.GaussianBlur(structure, (0, 0), 1.0), square)
    near = cv2.blur(near, (near_px, near_px))
    brightest = float(np.percentile(structure[::2, ::2], 99.9))
    return structure / np.maximum(near, FLOOR_SHARE * max(brightest, 1.0))


def without_solid_areas(lit):
    """The lit mask (uint8) less its solid areas, wider than any bar the pattern can have: a
    green object is not a display."""
    side = max(5, int(SOLID_SHARE * np.hypot(*lit.shape)))
    kernel = cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (side, side))
    solid = cv2.dilate(cv2.morphologyEx(lit, cv2.MORPH_OPEN, kernel), np.ones((5, 5), np.uint8))
    return lit & ~solid.astype(bool)


def lit_regions(norm):
    """The regions the pattern lights, largest first, each with its lit points, and how many
    lit shapes were too small to be a region. Pieces of the pattern near each other are one
    region (a frame line broken into dashes, windows that abut or nearly do), and a region
    inside another's box is part of it."""
    lit = without_solid_areas((norm > LIT_LEVEL).astype(np.uint8))
    join = max(5, int(JOIN_SHARE * np.hypot(*norm.shape)))
    joined = cv2.dilate(lit.astype(np.uint8),
                        cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (join, join)))
    count, labels, stats, _ = cv2.connectedComponentsWithStats(joined, connectivity=8)
    ys, xs = np.nonzero(lit)
    label_of = labels[ys, xs]
    order = np.argsort(label_of, kind="stable")
    bounds = np.searchsorted(label_of[order], np.arange(count + 1))
    regions, too_small = [], 0
    for label in np.argsort(-stats[:, cv2.CC_STAT_AREA]):
        if label == 0:
            continue
        x, y, width, height = (int(v) for v in stats[label, :4])
        members = order[bounds[label]:bounds[label + 1]]
        if max(width, height) < MIN_REGION_PX or len(members) < MIN_REGION_POINTS:
            too_small += max(width, height) >= MIN_REGION_PX / 3
            continue
        points = np.column_stack([xs[members], ys[members]]).astype(float)
        weights = norm[ys[members], xs[members]].astype(float)
        outer = next((r for r in regions if _inside((x, y, width, height), r.box)), None)
        if outer is None:
            regions.append(Region(points, weights, (x, y, width, height)))
        else:
            outer.points = np.vstack([outer.points, points])
            outer.weights = np.concatenate([outer.weights, weights])
    return regions, too_small


def _inside(box, outer, margin=5):
    x, y, width, height = box
    ox, oy, owidth, oheight = outer
    return (x >= ox - margin and y >= oy - margin and x + width <= ox + owidth + margin
            and y + height <= oy + oheight + margin)
