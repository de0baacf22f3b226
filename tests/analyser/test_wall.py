"""Where the groups and the windows read put a window that was not read."""

import unittest

import numpy as np

from analyser import wall

# A wall seen at an angle: wall pixels to photo pixels.
WALL_TO_PHOTO = np.array([[0.30, 0.02, 100.0], [-0.01, 0.28, 80.0], [2e-5, -1e-5, 1.0]])


def to_photo(group, bezel, groups):
    """The window-to-photo homography of a group's window on a wall with those bezels."""
    step = wall.steps(groups)[groups.index(group)]
    x, y = np.float64(group[:2]) + step * np.float64(bezel)
    return WALL_TO_PHOTO @ np.array([[1, 0, x], [0, 1, y], [0, 0, 1]])


def truth_quad(group, bezel, groups):
    width, height = group[2], group[3]
    rect = np.float64([[0, 0], [width, 0], [width, height], [0, height], ]).T
    mapped = to_photo(group, bezel, groups) @ np.vstack([rect, np.ones(4)])
    return (mapped[:2] / mapped[2]).T


class Prediction(unittest.TestCase):
    def test_a_window_not_read_is_placed_beyond_the_bezels_its_neighbours_show(self):
        row = [(i * 1920, 0, 1920, 1080, "V") for i in range(3)]
        grid = [(x, y, 1280, 720, "V") for y in (0, 720) for x in (0, 1280)]
        cases = [
            # name, groups, bezel (x, y), missing, bezel expected
            ("the middle of a row", row, (60.0, 60.0), 1, (60.0, 60.0)),
            ("the end of a row, abutting", row, (0.0, 0.0), 2, (0.0, 0.0)),
            ("a corner of two by two", grid, (40.0, 25.0), 3, (40.0, 25.0)),
            # A row tells no bezel across y; an axis no pair measures takes the other's.
            ("a row alone", row[:2] + [(1920, 1080, 1920, 1080, "V")], (50.0, 50.0), 2,
             (50.0, 50.0)),
        ]
        for name, groups, bezel, missing, expected in cases:
            with self.subTest(name):
                known = {i: to_photo(g, bezel, groups) for i, g in enumerate(groups)
                         if i != missing}
                found = wall.bezels(groups, known)
                np.testing.assert_allclose(found, expected, atol=1e-6)
                quad = wall.predicted_quad(groups, missing, known, found)
                np.testing.assert_allclose(quad, truth_quad(groups[missing], bezel, groups),
                                           atol=1e-6)
        self.assertIsNone(wall.predicted_quad(row, 0, {}, (0.0, 0.0)))

    def test_with_one_window_read_some_bezel_tried_places_its_neighbours_within_reach(self):
        # The outline's tracing reaches 2 % of a window's size from where it is placed.
        grid = [(x, y, 2560, 1440, "V") for y in (0, 1440) for x in (0, 2560)]
        for bezel in (0.0, 30.0, 115.0, 190.0):
            known = {0: to_photo(grid[0], (bezel, bezel), grid)}
            trials = wall.bezel_trials(grid, known)
            for missing in (1, 2):
                with self.subTest(bezel=bezel, missing=missing):
                    truth = truth_quad(grid[missing], (bezel, bezel), grid)
                    size = np.linalg.norm(truth[2] - truth[0])
                    nearest = min(np.abs(wall.predicted_quad(grid, missing, known, t) - truth).max()
                                  for t in trials)
                    self.assertLess(nearest, 0.02 * size / np.sqrt(2))

    def test_sides_meet_a_neighbour_as_one_line_only_where_the_bezel_is_narrow(self):
        grid = [(x, y, 1280, 720, "V") for y in (0, 720) for x in (0, 1280)]
        cases = [
            ((0.0, 0.0), 0, (False, True, True, False)),
            ((0.0, 0.0), 3, (True, False, False, True)),
            ((0.0, 40.0), 1, (False, False, False, True)),
            ((40.0, 40.0), 2, (False, False, False, False)),
        ]
        for bezel, index, shared in cases:
            with self.subTest(bezel=bezel, index=index):
                self.assertEqual(wall.shared_sides(grid, index, bezel), shared)


if __name__ == "__main__":
    unittest.main()
