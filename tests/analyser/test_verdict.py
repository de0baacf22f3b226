"""A lag read only roughly: a fault where even its least value is half a frame, not settled
where its doubt reaches that far, settled otherwise; a window whose bars no clock of its
machine's other windows explains is misread."""

import unittest

from analyser import photo, verdict


class LagWithinItsDoubt(unittest.TestCase):
    def test_the_answer_follows_the_lag_and_how_far_it_may_be_off(self):
        limit = 8.3
        for lag, doubt, answer in ((12.0, 1.0, verdict.NOT_IN_SYNC),
                                   (12.0, 5.0, verdict.CANNOT_TELL),
                                   (2.8, 6.0, verdict.CANNOT_TELL),
                                   (2.8, 4.6, verdict.IN_SYNC),
                                   (float("nan"), 1.0, verdict.IN_SYNC)):
            with self.subTest(lag=lag, doubt=doubt):
                judgement = verdict.Judgement(settled=["every lag is small"])
                verdict.judge_behind(judgement, "window a is behind", lag, doubt, limit,
                                     "at this scale", "take it closer")
                self.assertEqual(judgement.answer, answer)
                if answer == verdict.CANNOT_TELL:
                    self.assertIn(f"read only to {doubt:.1f} ms at this scale",
                                  judgement.reasons[0])
                    self.assertEqual(judgement.unsettled[0].advice, "take it closer")

    def test_a_lag_is_settled_against_the_window_read_most_surely(self):
        cases = [
            # leads ms, doubts ms, per window (ms behind, doubt, index) expected
            ("a rough leader, a sharp window settles", [20.0, 0.0, 19.0], [12.0, 1.0, 1.0],
             [(-1.0, 12.0, 2), (19.0, 1.4, 2), (1.0, 12.0, 0)]),
            ("all sharp: the leader", [0.0, 17.0, 5.0], [1.0, 1.0, 1.0],
             [(17.0, 1.4, 1), (-12.0, 1.4, 2), (12.0, 1.4, 1)]),
            ("a window alone", [3.0], [1.0], [None]),
        ]
        for name, leads, doubts, expected in cases:
            with self.subTest(name):
                found = verdict.surest_behind(leads, doubts)
                for got, want in zip(found, expected):
                    if want is None:
                        self.assertIsNone(got)
                        continue
                    self.assertEqual(got[2], want[2])
                    self.assertAlmostEqual(got[0], want[0])
                    self.assertAlmostEqual(got[1], want[1], places=1)


if __name__ == "__main__":
    unittest.main()


class OffTheClock(unittest.TestCase):
    def test_windows_of_one_machine_far_from_the_others_are_strays(self):
        reach = 0.04  # 200 ms of the sweep
        cases = [
            ("all close", [0.30, 0.31, 0.33], [False, False, False]),
            ("one far from the rest", [0.30, 0.31, 0.90], [False, False, True]),
            ("two apart: which is wrong is not known", [0.30, 0.90], [True, True]),
            ("no majority", [0.30, 0.31, 0.90, 0.92], [True, True, True, True]),
            ("alone", [0.5], [False]),
        ]
        for name, positions, strays in cases:
            with self.subTest(name):
                self.assertEqual(list(photo.off_the_clock(positions, reach)), strays)
