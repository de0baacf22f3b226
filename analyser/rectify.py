"""Samples a window's part of the photo on a grid of window coordinates, so that rows of the
result are rows of the window however the camera saw it."""

import cv2
import numpy as np


def window_to_photo(photo_points, window_points):
    """The homography that maps window coordinates to photo coordinates."""
    return cv2.getPerspectiveTransform(np.float32(window_points), np.float32(photo_points))


def photo_extent(to_photo, width, height):
    """The window's width and height as the photo shows them, in photo pixels: the mean lengths
    of its opposite sides."""
    outline = np.float32([[0, 0], [width, 0], [width, height], [0, height]])
    return quad_extent(cv2.perspectiveTransform(outline[None], to_photo)[0])


def quad_extent(corners):
    """Width and height of a quadrilateral (corners top-left, top-right, bottom-right,
    bottom-left): the mean lengths of its opposite sides."""
    sides = np.linalg.norm(corners - np.roll(corners, -1, axis=0), axis=1)
    return (sides[0] + sides[2]) / 2, (sides[1] + sides[3]) / 2


def grid_size(to_photo, width, height, per_pixel=(2.0, 1.5)):
    """How many columns and rows to sample: per_pixel samples per photo pixel across and down
    (by default two and one and a half), never more than the window has pixels."""
    across, down = photo_extent(to_photo, width, height)
    columns = int(min(width, max(64, round(per_pixel[0] * across))))
    rows = int(min(height, max(32, round(per_pixel[1] * down))))
    return columns, rows


def sample(image, to_photo, width, height, columns, rows, first=0, count=None, step=1):
    """The image sampled at the centres of a columns x rows grid over the window, or at count of
    its columns from column first on, every step-th.

    Returns the samples (rows x columns sampled, float32), the window u of each column sampled,
    the window v of each row, and the photo y at which each row crosses the window's middle
    (for the camera's rolling shutter).
    """
    count = (columns - first + step - 1) // step if count is None else count
    u = (first + step * np.arange(count) + 0.5) * width / columns
    v = (np.arange(rows) + 0.5) * height / rows
    # Grid index to photo: grid index to window coordinates, then the window's homography.
    to_window = np.array([[step * width / columns, 0, (first + 0.5) * width / columns],
                          [0, height / rows, 0.5 * height / rows], [0, 0, 1]])
    samples = cv2.warpPerspective(image, to_photo @ to_window, (count, rows),
                                  flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP,
                                  borderMode=cv2.BORDER_CONSTANT, borderValue=0)
    middle = np.column_stack([np.full(rows, width / 2), v]).astype(np.float32)
    photo_y = cv2.perspectiveTransform(middle[None], to_photo)[0][:, 1]
    return samples, u, v, photo_y
