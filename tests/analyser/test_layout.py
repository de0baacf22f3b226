import unittest

import numpy as np

from analyser import layout


def seen(points, angle=0.05, scale=0.3, shift=(400, 300), skew=0.0):
    """Desktop points as a slightly turned and skewed camera would place them."""
    points = np.asarray(points, float)
    c, s = np.cos(angle), np.sin(angle)
    turned = points @ np.array([[c, s], [-s, c]]) * scale
    turned[:, 0] += skew * turned[:, 1]
    return turned + shift


class Matching(unittest.TestCase):
    def test_groups_are_matched_by_where_the_windows_lie(self):
        grid = [(960, 540), (2880, 540), (4800, 540), (960, 1620), (2880, 1620), (4800, 1620)]
        cases = [
            ("a wall of six, shuffled", grid, [4, 0, 5, 2, 1, 3]),
            ("two side by side", grid[:2], [1, 0]),
            ("one", grid[:1], [0]),
        ]
        for name, desktop, order in cases:
            with self.subTest(name):
                photo = seen(desktop, skew=0.1)[order]
                pairs = layout.match_groups(desktop, photo, [1920] * len(desktop),
                                            [1920 * 0.3] * len(desktop))
                self.assertEqual(sorted(pairs), sorted((g, order.index(g))
                                                       for g in range(len(desktop))))

    def test_with_a_window_missing_the_rest_keep_their_names(self):
        desktop = [(960, 540), (2880, 540), (4800, 540)]
        photo = seen(desktop)[[0, 2]]
        pairs = layout.match_groups(desktop, photo, [1920] * 3, [1920 * 0.3] * 2)
        self.assertEqual(sorted(pairs), [(0, 0), (2, 1)])

    def test_reading_order_is_by_rows_then_left_to_right(self):
        centres = seen([(2880, 1620), (960, 540), (960, 1620), (2880, 540)], angle=0.04)
        self.assertEqual(layout.reading_order(centres), [1, 3, 2, 0])
