"""The camera lens's radial distortion, read from how it bends the frame lines of the windows
(straight on the wall), and the photo with it taken out.

Coordinates are photo pixels, x to the right and y down, pixel centres at whole numbers. A
photo point p stands for the undistorted point q = c + (p - c) (1 + k1 r^2 + k2 r^4), where c
is the photo's centre and r the distance |p - c| as a share of the half-diagonal: k1 < 0 is
barrel distortion. Analysing in undistorted coordinates, a window's outline is a perspective
view of a rectangle again, as the rest of the analyser takes it to be.
"""

from typing import NamedTuple

import cv2
import numpy as np

# A lens is taken out only where it bends some traced side by this many photo pixels (a side
# fitted straight is then that far off in its middle, and a bar read through the window's
# outline about as far), and by this many times the doubt of that bend.
MIN_BEND_PX = 0.15
MIN_BEND_SIGNIFICANCE = 3.0
MIN_SIDE_POINTS = 6  # a side is used with at least this many ridge points
# How large k1 and k2 are likely to be (a standard deviation): a fit that the sides leave
# loose, as where they all lie at about one distance from the centre, is kept small.
LIKELY_K = (0.03, 0.015)
MAP_STEP = 16  # the undistorting map is worked out every this many pixels, and interpolated


class Lens(NamedTuple):
    """Radial distortion about the centre of a photo of width x height pixels."""
    width: int
    height: int
    k1: float
    k2: float

    @property
    def centre(self):
        return np.array([(self.width - 1) / 2, (self.height - 1) / 2])

    @property
    def half_diagonal(self):
        return float(np.hypot(self.width, self.height) / 2)

    def undistort(self, points):
        """Undistorted coordinates of photo points (... x 2)."""
        points = np.asarray(points, float)
        return self.centre + (points - self.centre) * self._scale(points)[..., None]

    def distort(self, points):
        """Photo coordinates of undistorted points (... x 2): undistort's inverse, by
        fixed-point iteration (the scale changes little with the point)."""
        points = np.asarray(points, float)
        found = points.copy()
        for _ in range(8):
            found = self.centre + (points - self.centre) / self._scale(found)[..., None]
        return found

    def _scale(self, points):
        r2 = np.sum(((points - self.centre) / self.half_diagonal) ** 2, axis=-1)
        return 1.0 + self.k1 * r2 + self.k2 * r2 * r2


def undistorted(image, lens):
    """The image (any channels) resampled on undistorted coordinates, same size."""
    height, width = image.shape[:2]
    # The shift to each pixel's source, worked out at the centres of MAP_STEP-pixel blocks and
    # stretched over them (cv2.resize samples a block's pixels between the centres); the shift
    # changes so slowly that the blocks at the edges may keep it.
    columns, rows = -(-width // MAP_STEP), -(-height // MAP_STEP)
    centres = (np.arange(max(columns, rows)) + 0.5) * MAP_STEP - 0.5
    grid = np.stack(np.meshgrid(centres[:columns], centres[:rows]), axis=-1)
    shift = (lens.distort(grid) - grid).astype(np.float32)
    size = (columns * MAP_STEP, rows * MAP_STEP)
    maps = [cv2.resize(shift[..., axis], size, interpolation=cv2.INTER_LINEAR)[:height, :width]
            for axis in (0, 1)]
    maps[0] += np.arange(width, dtype=np.float32)[None, :]
    maps[1] += np.arange(height, dtype=np.float32)[:, None]
    fixed, fraction = cv2.convertMaps(maps[0], maps[1], cv2.CV_16SC2)
    return cv2.remap(image, fixed, fraction, cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)


def estimate(sides, width, height):
    """The lens that straightens the sides best, from ridge points traced along them (a list
    of (points n x 2, weights n) in photo coordinates, each side one straight frame line on the
    wall); None where no side is bent by more than MIN_BEND_PX, or not surely (see
    MIN_BEND_SIGNIFICANCE): the photo is then read as it is."""
    plain = Lens(width, height, 0.0, 0.0)
    sides = [_side(plain, np.asarray(p, float), np.asarray(w, float)) for p, w in sides
             if len(p) >= MIN_SIDE_POINTS]
    if len(sides) < 2:
        return None
    fitted, covariance = _robust_fit(sides)
    bend, doubt = _largest_bend(sides, fitted, covariance)
    if bend < MIN_BEND_PX or bend < MIN_BEND_SIGNIFICANCE * doubt:
        return None
    return Lens(width, height, float(fitted[0]), float(fitted[1]))


class _Side(NamedTuple):
    """The terms of one side's straightness, per ridge point: 1 and its position along the
    side's straight fit (the basis of that line), its weight, its offset across that line
    (photo pixels), the offset's derivatives by k1 and k2 (n x 2), and those derivatives with
    their own straight line taken out (how k1 and k2 bend the side)."""
    basis: np.ndarray
    weights: np.ndarray
    across: np.ndarray
    by_k: np.ndarray
    bend: np.ndarray


def _side(lens, points, weights):
    mean = np.average(points, axis=0, weights=weights)
    direction = np.linalg.eigh(np.cov((points - mean).T, aweights=weights))[1][:, -1]
    normal = np.array([-direction[1], direction[0]])
    along, across = (points - mean) @ direction, (points - mean) @ normal
    r2 = np.sum(((points - lens.centre) / lens.half_diagonal) ** 2, axis=1)
    outward = (points - lens.centre) @ normal
    by_k = np.column_stack([r2 * outward, r2 * r2 * outward])
    basis = np.column_stack([np.ones_like(along), along])
    weights = weights / np.median(weights)
    return _Side(basis, weights, across, by_k, _projected(basis, weights, by_k))


def _projected(basis, weights, values):
    """values (n x m) less their weighted least-squares fit by the basis (n x b)."""
    root = np.sqrt(weights)[:, None]
    coefficients = np.linalg.lstsq(basis * root, values * root, rcond=None)[0]
    return values - basis @ coefficients


def _robust_fit(sides, rounds=5):
    """(k1, k2) that make the offsets across every side straight lines, each side's own line
    free (projected out), by weighted least squares that give points far off less weight
    (Tukey's biweight), pulled towards 0 as LIKELY_K says; and their covariance, from the fits
    with each side left out in turn (the ridges along one side err together, so the points'
    own scatter would make the fit look surer than it is)."""
    current = [side.weights for side in sides]
    scale = 0.1
    for _ in range(rounds):
        normals, rights, residuals = [], [], []
        for side, weights in zip(sides, current):
            x = _projected(side.basis, weights, side.by_k)
            y = _projected(side.basis, weights, -side.across[:, None])[:, 0]
            normals.append((x * weights[:, None]).T @ x)
            rights.append((x * weights[:, None]).T @ y)
            residuals.append((x, y))
        prior = np.diag((scale / np.array(LIKELY_K)) ** 2)
        fitted = np.linalg.solve(sum(normals) + prior, sum(rights))
        misses = [y - x @ fitted for x, y in residuals]
        used = np.concatenate([m[w > 0] for m, w in zip(misses, current)])
        if used.size:
            scale = max(1.4826 * float(np.median(np.abs(used))), 0.1)
        current = [side.weights * np.maximum(1 - (m / (4.685 * scale)) ** 2, 0) ** 2
                   for side, m in zip(sides, misses)]
    total_normal, total_right = sum(normals) + prior, sum(rights)
    left_out = np.array([np.linalg.solve(total_normal - n, total_right - r)
                         for n, r in zip(normals, rights)])
    count = len(left_out)
    spread = left_out - left_out.mean(axis=0)
    return fitted, (count - 1) / count * spread.T @ spread


def _largest_bend(sides, fitted, covariance):
    """How far the fitted lens bends the side it bends most (photo pixels, at its point
    furthest from the side's straight line), and the doubt of that."""
    best, doubt = 0.0, 0.0
    for bend in (side.bend for side in sides):
        shifts = bend @ fitted
        index = int(np.argmax(np.abs(shifts)))
        if abs(shifts[index]) > best:
            gradient = bend[index]
            best = float(abs(shifts[index]))
            doubt = float(np.sqrt(max(gradient @ covariance @ gradient, 0.0)))
    return best, doubt
