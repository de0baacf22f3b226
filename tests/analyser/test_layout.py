import unittest

import numpy as np

from analyser import cells, layout, perspective


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

    def test_with_a_window_missing_or_a_shape_too_many_the_windows_keep_their_names(self):
        desktop = [(960, 540), (2880, 540), (4800, 540)]
        row = seen(desktop)
        stray = np.vstack([row[2], [row[0, 0] - 150, row[0, 1] + 260], row[0], row[1]])
        for name, photo, expected in (("missing", row[[0, 2]], [(0, 0), (2, 1)]),
                                      ("a stray shape found", stray, [(0, 2), (1, 3), (2, 0)])):
            with self.subTest(name):
                pairs = layout.match_groups(desktop, photo, [1920] * 3,
                                            [1920 * 0.3] * len(photo))
                self.assertEqual(sorted(pairs), expected)

    def test_reading_order_is_by_rows_then_left_to_right(self):
        centres = seen([(2880, 1620), (960, 540), (960, 1620), (2880, 540)], angle=0.04)
        self.assertEqual(layout.reading_order(centres), [1, 3, 2, 0])


class Families(unittest.TestCase):
    def test_the_family_runs_along_a_faint_line_beside_a_strong_one(self):
        # A window at a turn of the sweep, seen at an angle: its top frame line carries the
        # bar (bright and thick), its bottom one is a thin line alone, and they converge.
        along = np.linspace(0.0, 700.0, 700)
        top = np.column_stack([100 + along, 250 + 0.02 * along])
        bottom = np.column_stack([85 + along, 660 + 0.05 * along])
        sides = [np.column_stack([x + np.linspace(0, -15, 400), np.linspace(255, 660, 400)])
                 for x in (100.0, 800.0)]
        points = np.vstack([top, top + [0, 1], bottom] + sides)
        weights = np.concatenate([np.ones(2 * len(top)), np.full(len(bottom), 0.5),
                                  np.full(800, 0.4)])
        family = perspective.fit_family(points, weights, 0.0, 720.0)
        for line in (top + [0, 0.5], bottom):
            self.assertLess(np.ptp(family.across(line)), 1.0)


class Cells(unittest.TestCase):
    @staticmethod
    def view(speck=0.0):
        """A rectified view of two windows a gap apart, each a frame and two bars; the gap
        dark but for a faint column of noise in it (speck, of a bar's light)."""
        view = np.zeros((220, 520), np.float32)
        for left, right, bar in ((10, 240, 80), (280, 510, 350)):
            view[10:211, [left, right]] = 0.4
            view[[10, 210], left:right + 1] = 0.4
            view[10:211, bar:bar + 3] = 1.0
            view[120:123, left:right + 1] = 1.0
        view[:, 258] = speck
        return view

    def test_windows_a_gap_apart_are_cut_at_the_gap(self):
        for name, speck in (("a dark gap", 0.0), ("a gap with a speck of noise", 0.02)):
            with self.subTest(name):
                found = cells.split(self.view(speck), (10, 10, 510, 210))
                self.assertEqual(len(found), 2, found)
                for cell, window in zip(found, ((10, 10, 240, 210), (280, 10, 510, 210))):
                    np.testing.assert_allclose(cell.box, window, atol=3)
                    self.assertTrue(cell.clean)
