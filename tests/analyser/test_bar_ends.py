"""Where the bars end shows the window's edges: found through an outline that is off, from a
grey panel and a blurred picture, and not found where a neighbour's bar carries on."""

import unittest

import cv2
import numpy as np

from analyser import bar_ends
from analyser.pattern import BAR

WIDTH, HEIGHT = 960, 540
SCALE = 0.4  # photo pixels per window pixel
# The window's top-left corner in the photo, as drawn: pixel edges at whole numbers; the photo's
# coordinates put pixel centres there.
ORIGIN = (30.0, 20.0)
CORNER = np.array(ORIGIN) - 0.5


def _photo(black, neighbour_bar=False):
    """A window seen straight on: grey panel, the vertical bar at u 300, the horizontal one at
    v 200, dark beyond its edges; to its right, optionally, a neighbour whose horizontal bar
    carries on."""
    scale = 8  # drawn finely, then shrunk as a camera would
    size = (int((ORIGIN[1] * 2 + HEIGHT * SCALE) * scale),
            int((ORIGIN[0] * 2 + WIDTH * SCALE + 100) * scale))
    fine = np.zeros(size, np.float32)

    def box(u0, v0, u1, v1, value):
        x0, y0 = (int(round((ORIGIN[0] + u0 * SCALE) * scale)),
                  int(round((ORIGIN[1] + v0 * SCALE) * scale)))
        x1, y1 = (int(round((ORIGIN[0] + u1 * SCALE) * scale)),
                  int(round((ORIGIN[1] + v1 * SCALE) * scale)))
        fine[y0:y1, x0:x1] = value

    box(0, 0, WIDTH, HEIGHT, black)
    box(300, 0, 300 + BAR, HEIGHT, 1.0)
    box(0, 200, WIDTH, 200 + BAR, 1.0)
    if neighbour_bar:
        box(WIDTH, 0, WIDTH + 200, HEIGHT, black)
        box(WIDTH, 200, WIDTH + 200, 200 + BAR, 1.0)
    small = cv2.resize(fine, (size[1] // scale, size[0] // scale), interpolation=cv2.INTER_AREA)
    return cv2.GaussianBlur(small, (0, 0), 0.8)


def _to_photo(shift_u, shift_v, stretch):
    """An outline off by shift window pixels at the top-left and stretched by stretch."""
    return np.array([[SCALE * stretch, 0, CORNER[0] - shift_u * SCALE],
                     [0, SCALE * stretch, CORNER[1] - shift_v * SCALE], [0, 0, 1]])


class BarEnds(unittest.TestCase):
    def test_edges_are_found_where_the_bars_end(self):
        across = WIDTH * SCALE
        for black, neighbour, shift, stretch in ((0.03, False, 0.0, 1.0), (0.3, False, 8.0, 1.0),
                                                 (0.3, False, -6.0, 1.01),
                                                 (0.05, True, 5.0, 0.99)):
            with self.subTest(black=black, neighbour=neighbour, shift=shift, stretch=stretch):
                photo = _photo(black, neighbour)
                to_photo = _to_photo(shift, shift, stretch)
                # The bars' centres where this outline reads them, and the edges.
                inverse = np.linalg.inv(to_photo)
                centre = inverse @ [CORNER[0] + 305 * SCALE, CORNER[1] + 205 * SCALE, 1]
                u, v = centre[:2] / centre[2]
                edges = bar_ends.fit_edges(photo, to_photo, WIDTH, HEIGHT, (u, u), v, 1.0,
                                           black, across)
                far = inverse @ [CORNER[0] + WIDTH * SCALE, CORNER[1] + HEIGHT * SCALE, 1]
                near = inverse @ [*CORNER, 1]
                expected = (near[0], far[0], near[1], far[1])
                for side, found, edge in zip("left right top bottom".split(), edges, expected):
                    if neighbour and side == "right":
                        self.assertIsNone(found, side)
                    else:
                        self.assertAlmostEqual(found, edge, delta=0.3 / SCALE, msg=side)
                fitted = bar_ends.refitted(to_photo, WIDTH, HEIGHT, edges, across)
                if shift == 0 and stretch == 1:
                    self.assertIsNone(fitted)
                else:
                    corner = fitted @ [0, 0, 1]
                    self.assertLess(np.hypot(*(corner[:2] / corner[2] - CORNER)), 0.3)


if __name__ == "__main__":
    unittest.main()
