"""The two families of straight lines a wall of windows shows (its rows' lines and its columns'
lines), each through a vanishing point, and the homography that makes both axis-parallel.

A family is given by its direction at a centre point and its convergence kappa, one over the
distance from the centre to its vanishing point (0 for parallel lines; negative when the lines
meet behind the direction). Its across coordinate is constant along every line of the family:

    across(p) = n . (p - c) / (1 - kappa * d . (p - c))

with d the unit direction and n = d turned a quarter clockwise on the photo (y downwards). Points
are photo coordinates (x right, y down), in pixels of whatever map they come from.
"""

from dataclasses import dataclass

import cv2
import numpy as np

# Coarse to fine: (angle span either side in degrees, angle steps, kappa span either side as a
# share of the region's size, kappa steps). The coarse stages compare blurred profiles, so
# that a grid step cannot miss the narrow peak of exactly aligned lines.
SEARCH_STAGES = ((12.0, 25, 0.6, 7), (1.0, 21, 0.1, 9), (0.12, 13, 0.015, 7))
MAX_POINTS = 4000  # lit points a family is fitted to
# The coarse stage's best peaks refined in turn, each a local maximum of its grid scoring at
# least this share of the best: a family aligned with one strong line (a bar on a frame line,
# at a turn of the sweep) peaks apart from the one aligned with all of a window's lines.
COARSE_PEAKS = 3
PEAK_SHARE = 0.5
CLOSE_SHARE = 0.9  # of the best's score after the second stage, to be refined further
MIN_DENOMINATOR = 0.3  # a family must not fold the region over its vanishing line


@dataclass
class Family:
    centre: np.ndarray  # 2
    angle: float  # radians, the lines' direction at the centre
    kappa: float  # 1 / distance to the vanishing point along the direction, 1/pixels

    @property
    def direction(self):
        return np.array([np.cos(self.angle), np.sin(self.angle)])

    @property
    def normal(self):
        d = self.direction
        return np.array([-d[1], d[0]])

    def across(self, points):
        relative = np.asarray(points, float) - self.centre
        return (relative @ self.normal) / (1 - self.kappa * (relative @ self.direction))

    @property
    def vanishing_point(self):
        """Homogeneous (x, y, w): w is 0 for parallel lines."""
        d = self.direction
        return np.array([self.kappa * self.centre[0] + d[0], self.kappa * self.centre[1] + d[1],
                         self.kappa])


def _splat(values, weights, rows):
    """Histograms of 1-pixel bins, one per row of values (rows x n), each value shared between
    its two nearest bins so that the result moves smoothly with the values."""
    low = np.floor(values).astype(np.int64)
    share = values - low
    width = int(low.max()) + 2
    index = low + (np.arange(rows) * width)[:, None]
    total = rows * width
    weighted = np.broadcast_to(weights, values.shape)
    histogram = np.bincount(index.ravel(), (weighted * (1 - share)).ravel(), total + 1)
    histogram[1:] += np.bincount(index.ravel(), (weighted * share).ravel(), total + 1)[:-1]
    return histogram[:total].reshape(rows, width)


def _sharpness(points, weights, family_angle, kappas, centre, blur):
    """How sharply the points gather onto the lines of each candidate family (one angle, many
    kappas): the sum of squares of the profile across the lines, the profile's spread made
    equal for all of them so that squeezing the points together is not rewarded."""
    d = np.array([np.cos(family_angle), np.sin(family_angle)])
    n = np.array([-d[1], d[0]])
    relative = points - centre
    along, across = relative @ d, relative @ n
    denominator = 1 - np.outer(kappas, along)
    values = across[None, :] / denominator
    spread = max(float(np.std(across)), 1e-9)
    values = values * (spread / np.maximum(values.std(axis=1, keepdims=True), 1e-9))
    values = values - values.min(axis=1, keepdims=True)
    profiles = _splat(values, weights, len(kappas)).astype(np.float32)
    if blur > 0.5:
        kernel = cv2.getGaussianKernel(int(6 * blur) | 1, blur)
        profiles = cv2.sepFilter2D(profiles, -1, kernel, np.ones(1))
    scores = np.sum(profiles.astype(float) ** 2, axis=1)
    scores[denominator.min(axis=1) < MIN_DENOMINATOR] = 0.0
    return scores


def fit_family(points, weights, angle, size):
    """The family of lines the weighted points lie on, near the given direction (radians).
    size: the region's size in pixels, which scales the convergences tried."""
    points = np.asarray(points, float)
    weights = np.asarray(weights, float)
    if len(points) > MAX_POINTS:
        pick = np.random.default_rng(0).choice(len(points), MAX_POINTS, replace=False)
        points, weights = points[pick], weights[pick]
    centre = points.mean(axis=0)
    # The peaks are compared after the second stage, and only those that score near the best
    # there refined by the last: it moves a family by a fraction of the second's step.
    refined = [_best_on_grid(points, weights, size, centre, start[1:], SEARCH_STAGES[1])
               for start in _coarse_peaks(points, weights, angle, size, centre)]
    leading = max(found[0] for found in refined)
    best = max((_best_on_grid(points, weights, size, centre, found[1:], SEARCH_STAGES[2])
                for found in refined if found[0] >= CLOSE_SHARE * leading),
               key=lambda found: found[0])
    return Family(centre, float(best[1]), float(best[2] / size))


def _grid(points, weights, size, centre, around, stage):
    """Scores of the families on a stage's grid of angles and convergences (shares of size)
    around (angle, kappa): (scores, angles, kappas), scores angles x kappas."""
    angle_span, angle_steps, kappa_span, kappa_steps = stage
    span = np.radians(angle_span)
    angles = around[0] + np.linspace(-span, span, angle_steps)
    kappas = around[1] + np.linspace(-kappa_span, kappa_span, kappa_steps)
    # A grid step of the angle moves a line's end by this much: blur the profiles alike.
    blur = 0.25 * 2 * span / (angle_steps - 1) * size
    scores = np.array([_sharpness(points, weights, trial, kappas / size, centre, blur)
                       for trial in angles])
    return scores, angles, kappas


def _best_on_grid(points, weights, size, centre, around, stage):
    """(score, angle, kappa) of the best family on a stage's grid around (angle, kappa)."""
    scores, angles, kappas = _grid(points, weights, size, centre, around, stage)
    row, column = np.unravel_index(int(np.argmax(scores)), scores.shape)
    return float(scores[row, column]), float(angles[row]), float(kappas[column])


def _coarse_peaks(points, weights, angle, size, centre):
    """The COARSE_PEAKS best local maxima of the first stage's grid around angle (of at least
    PEAK_SHARE of its best), as (score, angle, kappa), the best first."""
    scores, angles, kappas = _grid(points, weights, size, centre, (angle, 0.0),
                                   SEARCH_STAGES[0])
    padded = np.pad(scores, 1, constant_values=-np.inf)
    neighbours = np.max([padded[1 + dy:1 + dy + scores.shape[0], 1 + dx:1 + dx + scores.shape[1]]
                         for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx], axis=0)
    rows, columns = np.nonzero((scores >= neighbours) & (scores > 0)
                               & (scores >= PEAK_SHARE * scores.max()))
    order = np.argsort(-scores[rows, columns])[:COARSE_PEAKS]
    return [(float(scores[r, c]), float(angles[r]), float(kappas[c]))
            for r, c in zip(rows[order], columns[order])] or [(0.0, angle, 0.0)]


def rectifying_homography(rows, columns, centre):
    """The homography that takes the photo to a view where the rows' family runs along x and
    the columns' family along y, one pixel per photo pixel at the centre, x to the right and y
    downwards as on the photo."""
    centre = np.array([centre[0], centre[1], 1.0])
    axes = []
    for family, axis in ((rows, 0), (columns, 1)):
        point = family.vanishing_point
        # The photo's step at the centre for a unit step along this axis of the view.
        step = point[:2] - centre[:2] * point[2]
        scale = 1.0 / np.linalg.norm(step)
        if step[axis] < 0:
            scale = -scale
        axes.append(point * scale)
    return np.linalg.inv(np.column_stack([axes[0], axes[1], centre]))


def view_of(points, weights, homography, margin=3):
    """The weighted points seen through the homography, splatted onto a grid of view pixels
    (each shared bilinearly between its four nearest): the view (float32) and the view
    coordinates of its pixel (0, 0). Points beyond the vanishing line are left out."""
    homogeneous = np.column_stack([points, np.ones(len(points))]) @ homography.T
    ahead = homogeneous[:, 2] > 0
    seen = homogeneous[ahead, :2] / homogeneous[ahead, 2:]
    weights = np.asarray(weights, float)[ahead]
    origin = np.floor(seen.min(axis=0)) - margin
    local = seen - origin
    width, height = (np.ceil(local.max(axis=0)) + margin + 1).astype(int)
    low = np.floor(local).astype(np.int64)
    share = local - low
    view = np.zeros(width * height)
    for dx in (0, 1):
        for dy in (0, 1):
            weight = weights * np.abs(1 - dx - share[:, 0]) * np.abs(1 - dy - share[:, 1])
            index = (low[:, 1] + dy) * width + low[:, 0] + dx
            view += np.bincount(index, weight, width * height)
    return view.reshape(height, width).astype(np.float32), origin
