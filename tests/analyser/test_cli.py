"""The command as a script sees it: its output, its exit status, and bad input."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import cv2
import numpy as np

from camera import photograph

from tests.analyser import INSTALLED, ROOT
from tests.analyser.scenes import camera, wall, write_file

GROUPS = ["0", "0", "1280", "720", "V", "1280", "0", "1280", "720", "V"]


def command():
    """The analyser's command: the installed varnel-inspect beside the interpreter, or the
    clone's package run as a module."""
    if INSTALLED:
        return [os.path.join(os.path.dirname(sys.executable), "varnel-inspect")]
    return [sys.executable, "-m", "analyser"]


def run(*args):
    done = subprocess.run([*command(), *args], cwd=ROOT, capture_output=True, text=True,
                          timeout=120)
    return done.returncode, done.stdout, done.stderr


def png_header(width, height):
    """The start of a PNG file that claims the given size."""
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    chunk = b"IHDR" + header
    return (b"\x89PNG\r\n\x1a\n" + struct.pack(">I", len(header)) + chunk
            + struct.pack(">I", zlib.crc32(chunk)))


class Command(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        data, _, _ = photograph(wall(2, **{"1": {"lag_frames": 1.0}}), camera(), 3456.7)
        cls.photo = cls.file("wall.jpg", data)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def file(cls, name, data):
        return write_file(cls.folder.name, name, data)

    def test_json_and_annotated_photo_carry_the_findings(self):
        annotated = os.path.join(self.folder.name, "out.png")
        status, out, _ = run("--json", "--annotate", annotated, self.photo, *GROUPS)
        self.assertEqual(status, 3)
        result = json.loads(out)
        self.assertFalse(result["in_sync"])
        names = {w["name"]: w for w in result["windows"]}
        self.assertEqual(set(names), {"0,0", "1280,0"})
        self.assertAlmostEqual(names["1280,0"]["lag_frames"], 1.0, delta=0.25)
        for key in ("sweep", "lag_ms", "scan", "breaks", "corners", "warnings"):
            self.assertIn(key, names["0,0"])
        self.assertEqual(cv2.imread(annotated).shape[:2], (1000, 1800))

    def test_three_answers_each_with_its_exit_status(self):
        # At 3456.7 ms a display of phase 4 ms is 0.16 of a refresh into its scan-out, one of
        # phase 5.37 ms 0.08, and one of phase 7.07 ms is blanking: its boundary does not show,
        # which puts its scan-out position within a few hundredths of a refresh of the turn:
        # 0.16 and more from the first, within 0.1 of the second but not all of it.
        cases = [
            ("in step, both boundaries show", wall(2), 0, "in sync", True, ""),
            ("one window a frame behind", wall(2, **{"1": {"lag_frames": 1.0}}), 3,
             "not in sync", False, "window 1280,0 is"),
            ("one display blanking, the other well into its scan-out",
             wall(2, **{"1": {"phase_ms": 7.07}}), 3, "not in sync", False,
             "scan-out positions differ by at least"),
            ("one display blanking, the other just begun",
             wall(2, **{"0": {"phase_ms": 5.37}, "1": {"phase_ms": 7.07}}), 4, "cannot tell",
             None, "window 1280,0 shows no scan-out boundary"),
        ]
        for name, displays, status, answer, in_sync, reason in cases:
            with self.subTest(name):
                data, _, truths = photograph(displays, camera(), 3456.7)
                path = self.file(f"{status}.jpg", data)
                code, out, err = run("--json", path, *GROUPS)
                self.assertEqual(code, status, err)
                result = json.loads(out)
                self.assertEqual((result["verdict"], result["in_sync"]), (answer, in_sync))
                self.assertIn(reason, " ".join(result["reasons"]))
                if "blanking" in name:  # the arc runs round the turn of the refresh
                    start, end = next(w["scan_arc"] for w in result["windows"]
                                      if w["name"] == "1280,0")
                    self.assertTrue(0.9 < start and end < 0.1, (start, end))
                summary = run(path, *GROUPS)[1]
                self.assertIn(f"verdict: {answer.upper()}", summary)
                if answer == "cannot tell":
                    self.assertEqual([b for t in truths if t.name == "1280,0"
                                      for b in t.breaks], [])
                    self.assertIn("settled: all 2 window(s) judged show the same frame", summary)
                    self.assertIn("what to do: take another photo", summary)

    def test_summary_names_every_window_and_gives_the_verdict(self):
        status, out, _ = run(self.photo, *GROUPS, "--refresh", "60")
        self.assertEqual(status, 3)
        self.assertIn("1280,0", out)
        self.assertIn("verdict: NOT IN SYNC", out)
        self.assertIn("window 1280,0 is", out)

    def test_bad_input_gives_one_line_and_its_status(self):
        grey = cv2.imencode(".png", np.full((600, 800, 3), 90, np.uint8))[1].tobytes()
        with open(self.photo, "rb") as source:
            jpeg = source.read()
        small_window = cv2.imencode(".png", cv2.resize(cv2.imread(self.photo), (90, 50)))[1]
        cases = [
            ("empty file", self.file("empty.jpg", b""), [], 1, "empty"),
            ("text file", self.file("notes.jpg", b"not a photo\n" * 20), [], 1, "not a JPEG"),
            ("truncated JPEG", self.file("cut.jpg", jpeg[:len(jpeg) // 2]), [], 1, "cut off"),
            ("no pattern", self.file("grey.png", grey), [], 1, "no test pattern"),
            ("1 by 1", self.file("dot.png", cv2.imencode(".png", np.zeros((1, 1, 3),
                                                                          np.uint8))[1]), [], 1,
             "too small"),
            ("100 megapixels", self.file("huge.png", png_header(12000, 8400)), [], 1,
             "megapixels"),
            ("pattern too small to read", self.file("tiny.png", small_window.tobytes()), [], 1,
             "too small"),
            ("missing file", os.path.join(self.folder.name, "none.jpg"), [], 1, "cannot read"),
            ("groups not in fives", self.photo, GROUPS[:4], 2, "five arguments"),
            ("no photo", None, [], 2, "no photo"),
            ("unknown option", self.photo, ["--fast"], 2, "unrecognized"),
            ("groups before the first machine", self.photo, [*GROUPS[:5], "--machine", "a",
                                                             *GROUPS[5:]], 2, "no machine"),
            ("a machine named twice", self.photo, ["--machine", "a", *GROUPS[:5], "--machine",
                                                   "a", *GROUPS[5:]], 2, "a name of its own"),
            ("a slash in a machine's name", self.photo, ["--machine", "a/b", *GROUPS], 2,
             "without a slash"),
            ("a machine's groups not in fives", self.photo, ["--machine", "a", *GROUPS[:4]], 2,
             "groups of a need five"),
            ("a place for no machine named", self.photo, ["--machine", "a", *GROUPS,
                                                          "--place", "b=0,0"], 2, "NAME=X,Y"),
            ("a place that is no position", self.photo, ["--machine", "a", *GROUPS,
                                                         "--place", "a=0"], 2, "NAME=X,Y"),
            ("a place without machines", self.photo, [*GROUPS, "--place", "a=0,0"], 2,
             "--place needs --machine"),
            ("two machines at one place", self.photo, [
                "--machine", "a", *GROUPS[:5], "--machine", "b", *GROUPS[:5], "--place",
                "a=0,0", "--place", "b=0,0"], 2, "same place on the wall"),
        ]
        for name, path, extra, expected, message in cases:
            with self.subTest(name):
                status, out, err = run(*([path] if path else []), *extra)
                self.assertEqual(status, expected, err)
                self.assertIn(message, err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(out, "")

    def test_groups_that_do_not_match_the_photo_are_named(self):
        cases = [
            ("fewer displays than groups", GROUPS + ["2560", "0", "1280", "720", "V"],
             "window 2560,0 was not found"),
            ("more displays than groups", GROUPS[:5], "match no group"),
        ]
        for name, groups, reason in cases:
            with self.subTest(name):
                status, out, _ = run("--json", self.photo, *groups)
                self.assertEqual(status, 3)  # one window is behind: that settles it
                result = json.loads(out)
                self.assertTrue(any(reason in u["what"] for u in result["unsettled"]))


class Machines(unittest.TestCase):
    """Windows of two machines: a/0,0 and a/1280,0 beside b/0,0 on the wall, b's bars drawn by
    a clock of its own or by the same one."""

    def test_one_clock_is_judged_as_one_machine_and_clocks_of_their_own_are_said(self):
        groups = ["--machine", "a", *GROUPS, "--machine", "b", *GROUPS[:5]]
        cases = [("one clock, b a frame behind", 16.7, 3, "not in sync", 0),
                 ("b on a clock of its own", 2345.0, 4, "cannot tell", 1)]
        with tempfile.TemporaryDirectory() as folder:
            for name, b_ahead_ms, status, answer, b_clock in cases:
                with self.subTest(name):
                    displays = wall(3, **{"2": {"clock_offset_ms": -b_ahead_ms}})
                    data, _, _ = photograph(displays, camera(photo_size=(2400, 900)), 3456.7)
                    path = write_file(folder, "cluster.jpg", data)
                    code, out, err = run("--json", path, *groups)
                    self.assertEqual(code, status, err)
                    result = json.loads(out)
                    self.assertEqual(result["verdict"], answer)
                    windows = {w["name"]: w for w in result["windows"]}
                    self.assertEqual(set(windows), {"a/0,0", "a/1280,0", "b/0,0"})
                    self.assertEqual(windows["b/0,0"]["group"], [0, 0, 1280, 720, "V"])
                    self.assertEqual([w["clock"] for w in windows.values()], [0, 0, b_clock])
                    own = [u["what"] for u in result["unsettled"] if "clock of its own" in
                           u["what"]]
                    if b_clock:
                        self.assertLess(windows["b/0,0"]["lag_frames"], 0.25)
                        self.assertEqual(len(own), 1)
                        self.assertIn("machine b", own[0])
                    else:
                        self.assertAlmostEqual(windows["b/0,0"]["lag_frames"], 1.0, delta=0.25)
                        self.assertEqual(own, [])
                        self.assertIn("note: machines a, b are on one clock", run(path, *groups)[1])
