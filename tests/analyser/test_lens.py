"""The lens's distortion read from frame lines that run straight on the wall, and photos read
with it taken out."""

import unittest

import numpy as np

from camera import photograph

from tests.analyser.scenes import camera, wall
from analyser import lens, photo_io
from analyser.photo import analyse

SIZE = (4000, 3000)


def wall_sides(truth, rng, noise_px=0.2):
    """The frame lines of a 3 x 2 wall filling most of the photo, as the lens truth shows them:
    per side, ridge points (every 40 pixels, traced to noise_px) and weights, and the same
    points without the noise."""
    sides, exact = [], []
    for column in range(3):
        for row in range(2):
            x0, y0 = 300 + column * 1150, 300 + row * 1250
            corners = np.array([[x0, y0], [x0 + 1100, y0], [x0 + 1100, y0 + 1150],
                                [x0, y0 + 1150]], float)
            for side in range(4):
                start, end = corners[side], corners[(side + 1) % 4]
                along = np.linspace(0.05, 0.95, 24)[:, None]
                points = truth.distort(start + along * (end - start))
                exact.append(points)
                sides.append((points + rng.normal(0, noise_px, points.shape),
                              np.ones(len(points))))
    return sides, exact


def largest_bend(points):
    """How far points stray from the straight line through their ends, photo pixels."""
    chord = points[-1] - points[0]
    normal = np.array([-chord[1], chord[0]]) / np.linalg.norm(chord)
    return float(np.abs((points - points[0]) @ normal).max())


class Estimate(unittest.TestCase):
    def test_the_lens_that_bent_the_sides_straightens_them_again(self):
        cases = [("barrel", -0.02, 0.0), ("pincushion", 0.012, 0.0),
                 ("moustache", -0.015, 0.01), ("a gentle one of the fourth power", 0.0, -0.01)]
        for name, k1, k2 in cases:
            with self.subTest(name):
                truth = lens.Lens(*SIZE, k1, k2)
                sides, exact = wall_sides(truth, np.random.default_rng(5))
                found = lens.estimate(sides, *SIZE)
                self.assertIsNotNone(found)
                before = max(largest_bend(points) for points in exact)
                after = max(largest_bend(found.undistort(points)) for points in exact)
                self.assertGreater(before, 0.4)
                self.assertLess(after, 0.1)

    def test_straight_sides_or_too_few_points_give_no_lens(self):
        rng = np.random.default_rng(7)
        straight, _ = wall_sides(lens.Lens(*SIZE, 0.0, 0.0), rng, noise_px=0.4)
        bent, _ = wall_sides(lens.Lens(*SIZE, -0.02, 0.0), rng)
        few = [(points[:lens.MIN_SIDE_POINTS - 1], weights[:lens.MIN_SIDE_POINTS - 1])
               for points, weights in bent]
        # One side's ridges traced onto something that bends (a bar beside it): no lens
        # bends only one of 24 sides.
        one_off = list(straight)
        points, weights = one_off[0]
        middle = np.sin(np.linspace(0, np.pi, len(points)))[:, None] * [0.0, 1.5]
        one_off[0] = (points + middle, weights)
        for name, sides in [("straight", straight), ("too few points", few),
                            ("one side bent", one_off)]:
            with self.subTest(name):
                self.assertIsNone(lens.estimate(sides, *SIZE))

    def test_undistorted_image_shows_each_point_where_undistort_puts_it(self):
        truth = lens.Lens(400, 300, -0.03, 0.01)
        for point in ([200.0, 150.0], [380.3, 282.6], [40.5, 30.2], [123.3, 245.7]):
            spot = np.zeros((300, 400), np.float32)
            x, y = np.meshgrid(np.arange(400), np.arange(300))
            spot[:] = np.exp(-((x - point[0]) ** 2 + (y - point[1]) ** 2) / 8.0)
            moved = lens.undistorted(spot, truth)
            centre = [(moved * x).sum() / moved.sum(), (moved * y).sum() / moved.sum()]
            np.testing.assert_allclose(centre, truth.undistort(point), atol=0.05)
            np.testing.assert_allclose(truth.undistort(truth.distort(point)), point, atol=1e-6)


class Photos(unittest.TestCase):
    def test_a_wall_seen_through_a_lens_is_read_as_if_through_none(self):
        displays = wall(3, (1920, 1080), **{"1": {"lag_frames": 1.0}})
        groups = [d.group for d in displays]
        for name, settings, bent in [
                ("a barrel lens, off centre", {"distortion": -0.025, "distortion2": 0.006,
                                               "lens_centre": (0.01, -0.015)}, True),
                ("no lens", {}, False)]:
            with self.subTest(name):
                data, _, truths = photograph(displays, camera(
                    photo_size=(3000, 1500), yaw_deg=-8, pitch_deg=6, **settings), 3456.7)
                result = analyse(photo_io.decode(data), groups)
                self.assertEqual(result.lens is not None, bent, result.lens)
                by_name = {w.name: w for w in result.windows}
                for truth in truths:
                    window = by_name[truth.name]
                    # Corners are given in the photo as it is, the lens left in.
                    self.assertLess(np.abs(window.corners - truth.corners).max(), 0.35)
                    self.assertAlmostEqual(window.lag_frames, truth.lag_frames, delta=0.25)


if __name__ == "__main__":
    unittest.main()
