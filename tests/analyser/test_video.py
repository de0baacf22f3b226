"""Videos made by the camera model, through the analyser and through the command: windows
followed, offsets, stutters and the verdict; and the bad input a video can be."""

import dataclasses
import json
import os
import subprocess
import tempfile
import unittest
from unittest import mock

import cv2
import numpy as np

from analyser import course, video, video_io, video_workers
from video_camera import VideoCamera, VideoDisplay, film

from tests.analyser.scenes import write_file
from tests.analyser.test_cli import run

START_MS = 2000.0
HOLD_MS = START_MS + 700.0


def _wall():
    """Three displays in step; the last holds one frame for two more refreshes, alone."""
    displays = [VideoDisplay(i * 1280, 0, 1280, 720, "V", 60.0, 4.0, 1.0) for i in range(3)]
    displays[2].holds = [(HOLD_MS, 2)]
    return displays


def _groups(displays):
    return [str(value) for display in displays for value in display.group]


class Videos(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.displays = _wall()
        cls.camera = VideoCamera(photo_size=(1280, 720), yaw_deg=8, coverage=0.95,
                                 exposure_ms=0.5, fps=60.0, duration_s=1.5, shake_px=1.0,
                                 seed=4)
        cls.path = os.path.join(cls.folder.name, "wall.mp4")
        cls.truth = film(cls.displays, cls.camera, cls.path, START_MS)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def _file(self, name, data):
        return write_file(self.folder.name, name, data)

    def test_a_lone_stutter_is_found_placed_and_judged(self):
        clip = video_io.Video(self.path)
        groups = [d.group for d in self.displays]
        result = video.analyse(clip.frames(), groups)
        by_name = {w.name: w for w in result.windows}
        self.assertEqual(sorted(by_name), sorted(d.name for d in self.displays))
        held = by_name[self.displays[2].name]
        self.assertEqual(len(held.stutters), 1)
        self.assertLessEqual(abs(held.stutters[0].moment_ms - (HOLD_MS - START_MS)),
                             1000 / self.camera.fps)
        self.assertFalse(held.swap_locked)
        # A pixel of these windows is 3.9 ms of the sweep, and they are 420 pixels wide in the
        # video: its outline's error moves the mean by a ms or two.
        for window in result.windows:
            self.assertLess(abs(window.offset_ms), 3.0, window.name)
            self.assertTrue(window.in_step, window.name)
            if window is not held:
                self.assertEqual(window.stutters, [], window.name)
        self.assertFalse(result.in_sync)
        self.assertTrue(result.lost)

    def test_the_command_writes_json_and_a_plot(self):
        plot = os.path.join(self.folder.name, "plot.png")
        status, out, err = run("--json", "--plot", plot, self.path, *_groups(self.displays))
        self.assertEqual(status, 3, err)
        result = json.loads(out)
        self.assertEqual(result["frames"], self.camera.frames)
        window = next(w for w in result["windows"] if w["name"] == self.displays[2].name)
        for key in ("offset_ms", "offset_spread_ms", "drift_refreshes_per_s", "stutters",
                    "tears_per_s"):
            self.assertIn(key, window)
        self.assertEqual(len(window["stutters"]), 1)
        with open(plot, "rb") as file:
            self.assertEqual(file.read(4), b"\x89PNG")

    def test_windows_read_on_workers_read_as_here(self):
        groups = [d.group for d in self.displays]
        alone = video.analyse(video_io.Video(self.path).frames(), groups)

        def kill_worker(pool, index):
            if index == 30:
                pool.processes[0].kill()

        # Two workers read two of the three windows, and this process the third; frames
        # decoded elsewhere are copied to the workers.
        cases = [("two workers", 2, True, None, None),
                 ("a worker killed", 1, True, kill_worker, 31),
                 ("frames copied", 1, False, None, None)]
        for name, count, into, mishap, pooled in cases:
            with self.subTest(name):
                clip = video_io.Video(self.path)
                with video.start_workers(count, clip.shape, video_io.RING_FRAMES) as pool:
                    self.assertTrue(pool.ready(wait_s=60.0))
                    reads = mock.patch.object(pool, "read", wraps=pool.read)
                    progress = mock.Mock(update=lambda done: mishap and mishap(pool, done))
                    with reads as read:
                        shared = video.analyse(clip.frames(pool.frames if into else None),
                                               groups, progress=progress, pool=pool)
                self.assertEqual(read.call_count, pooled or clip.frames_read)
                for ours, theirs in zip(alone.windows, shared.windows, strict=True):
                    self.assertEqual(ours.name, theirs.name)
                    np.testing.assert_array_equal(ours.moments, theirs.moments)
                    np.testing.assert_array_equal(ours.leads, theirs.leads)
                    self.assertEqual(ours.offset_ms, theirs.offset_ms)
                    self.assertEqual(len(ours.stutters), len(theirs.stutters))

    def test_the_command_reads_a_long_video_as_in_one_process(self):
        looped = os.path.join(self.folder.name, "looped.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-stream_loop", "3", "-i",
                        self.path, "-c", "copy", looped], check=True)
        clip = video_io.Video(looped)
        self.assertGreaterEqual(clip.duration_s, video_workers.WORTH_S)
        alone = video.analyse(clip.frames(), [d.group for d in self.displays])
        status, out, err = run("--json", looped, *_groups(self.displays))
        self.assertIn(status, (0, 3, 4), err)
        result = json.loads(out)
        self.assertEqual(result["frames"], alone.frames)
        self.assertEqual({w["name"]: w["offset_ms"] for w in result["windows"]},
                         {w.name: round(w.offset_ms, 2) for w in alone.windows})

    def test_workers_are_started_for_long_videos_on_cores_to_spare(self):
        # (seconds, windows given, cores): workers
        for seconds, windows, cores, expected in ((60, 2, 2, 1), (60, 4, 8, 3), (60, None, 4, 3),
                                                  (60, 1, 8, 0), (60, 2, 1, 0), (4, 3, 8, 0),
                                                  (60, None, 32, video_workers.MAX_WORKERS)):
            with self.subTest(seconds=seconds, windows=windows, cores=cores):
                with mock.patch("os.cpu_count", return_value=cores):
                    self.assertEqual(video_workers.worth_starting(seconds, windows), expected)

    def test_bad_videos_are_refused_or_read_for_what_they_hold(self):
        with open(self.path, "rb") as file:
            data = file.read()
        late = os.path.join(self.folder.name, "late.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-i", self.path, "-vf",
                        "tpad=start_duration=1.5:color=black", late], check=True)
        black = os.path.join(self.folder.name, "black.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                        "color=black:s=640x360:r=30:d=1", black], check=True)
        empty = os.path.join(self.folder.name, "none.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                        "color=black:s=64x64:r=30", "-frames:v", "0", "-c:v", "libx264",
                        empty], check=True)
        faststart = os.path.join(self.folder.name, "faststart.mp4")
        subprocess.run(["ffmpeg", "-y", "-loglevel", "error", "-i", self.path, "-c", "copy",
                        "-movflags", "+faststart", faststart], check=True)
        with open(faststart, "rb") as file:
            cut = self._file("cut.mp4", file.read()[:len(data) // 3])
        still = np.zeros((200, 300, 3), np.uint8)
        cases = [
            ("empty file", self._file("empty.mp4", b""), 1, "is empty"),
            ("not a video", self._file("notes.mp4", b"just some text\n" * 50), 1,
             "not a video"),
            ("no frames", empty, 1, "no frames"),
            ("no pattern", black, 1, "no test pattern found"),
            ("ends half-way, in sync so far", cut, 0, "the video ends early"),
            ("pattern comes late", late, 3, "the pattern first shows 1.5 s"),
            ("still image named as a video",
             self._file("still.mp4", cv2.imencode(".png", still)[1].tobytes()), 1,
             "holds a still image, not a video: it is read as a photo"),
        ]
        for name, path, expected, message in cases:
            with self.subTest(name):
                status, out, err = run(path, *_groups(self.displays))
                self.assertEqual(status, expected, err)
                self.assertIn(message, out + err)


class TurnsOfTheSweep(unittest.TestCase):
    def test_windows_followed_through_a_turn_keep_their_outline(self):
        """Where the sweep turns, a bar runs along a frame line: followed from frame to frame,
        the side would be traced onto the bar and drawn away with it, and the bar read at the
        window's edge for the rest of the video."""
        displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", 60.0, 4.0, 1.0) for i in range(2)]
        camera = VideoCamera(photo_size=(1280, 720), yaw_deg=5, coverage=0.9, exposure_ms=0.5,
                             fps=30.0, duration_s=2.0, seed=3)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "turn.mp4")
            # The sweep turns at the left and bottom edges 5 s into the tool's clock.
            film(displays, camera, path, 4400.0)
            result = video.analyse(video_io.Video(path).frames(), [d.group for d in displays])
        for window in result.windows:
            with self.subTest(window=window.name):
                self.assertEqual(window.stutters, [])
                self.assertLess(abs(window.offset_ms), 1.0)
        self.assertEqual(result.verdict, "in sync")

    def test_a_search_moves_a_window_read_just_before_only_a_little(self):
        """A search just after a turn can trace a window pixels off where it was being read
        right: a window read in the frame before keeps its outline then, and takes a search's
        that stands a pixel or so away; a window lost a while takes one within REFOUND_SHARE."""
        corners = np.array([[981.0, 311.0], [1781.0, 306.0], [1778.0, 754.0], [984.0, 763.0]])
        off = corners + [-25.0, 8.0]
        cases = [("read before, the search a pixel away", 0, corners + 1.0, True),
                 ("read before, the search 25 pixels off", 0, off, False),
                 ("lost for frames, the search 25 pixels off", video.LOST_FRAMES, off, True),
                 ("lost, the search across two windows", video.LOST_FRAMES,
                  corners * [1.8, 1.0], False)]
        for name, lost, found, taken in cases:
            with self.subTest(name):
                tracked = video.Tracked("1920,0", (1920, 0, 1920, 1080, "V"), False,
                                        corners, (False,) * 4, lost=lost)
                tracked.seen.moments.append(1200.0)
                self.assertEqual(tracked.could_be_at(found), taken)


class WindowsShowingNoBoundary(unittest.TestCase):
    def test_are_timed_by_the_refreshes_another_window_shows(self):
        """A 30 fps camera catches a 75 Hz refresh at two moments of it in turn: a window
        whose refreshes are timed as a refresh before each frame was read has leads that swing
        by half a refresh between frames. Timed by its neighbour's refreshes, it keeps the
        offset from it that its own timeline gives."""
        displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", 75.0, 4.0, 1.0) for i in range(2)]
        camera = VideoCamera(photo_size=(1280, 720), coverage=0.9, exposure_ms=0.5, fps=30.0,
                             duration_s=2.0, seed=5)
        course_of = video._window_course

        def boundaries_unseen_in_one(tracked, *settings):
            if tracked.name == "1920,0":
                seen = tracked.seen
                tracked = dataclasses.replace(tracked, seen=course.Course(
                    seen.moments, seen.segments, [[] for _ in seen.breaks]))
            return course_of(tracked, *settings)

        apart = []
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "in-step.mp4")
            film(displays, camera, path, 1000.0)
            for reading in (course_of, boundaries_unseen_in_one):
                with mock.patch.object(video, "_window_course", reading):
                    result = video.analyse(video_io.Video(path).frames(),
                                           [d.group for d in displays])
                offsets = {w.name: w.offset_ms for w in result.windows}
                apart.append(offsets["0,0"] - offsets["1920,0"])
        self.assertIsNone({w.name: w for w in result.windows}["1920,0"].timeline)
        self.assertAlmostEqual(apart[1], apart[0], delta=0.5)


class SmallWindowsOnALitWall(unittest.TestCase):
    """Three windows of 350 to 400 video pixels in 720p, seen askew, with a lit wall beyond
    their bezels, or right against their frame lines where the panels abut and the sensor
    skips pixels: followed from frame to frame, their outlines must stay on the frame lines,
    and where the video starts with the bars on them (a turn of the sweep) they are to be read
    soon after the bars leave."""

    def test_offsets_hold_and_windows_are_read_soon(self):
        displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", 60.0, 4.0, 0.0) for i in range(3)]
        # A video pixel is 12 to 14 ms of sweep here; where the panels abut, the wall right
        # against the outer frame lines, an outline traced on the wall's edge is off by two.
        abutting = dict(bezel=0.0, tone="gamma", sampling="skip", crf=27, sharpen=0.8)
        # start (the tool's clock, ms), seed, largest offset error (ms), read by (ms), wall
        cases = ((1500.0, 1, 2.5, 100.0, {}), (8400.0, 1, 2.5, 100.0, {}),
                 (4950.0, 2, 3.0, 400.0, {}), (1500.0, 4, 15.0, 100.0, abutting))
        with tempfile.TemporaryDirectory() as folder:
            for start, seed, largest_ms, read_by_ms, wall in cases:
                with self.subTest(start=start, seed=seed, wall=wall):
                    camera = VideoCamera(photo_size=(1280, 720), yaw_deg=-12, coverage=0.85,
                                         exposure_ms=0.5, fps=30.0, duration_s=1.0,
                                         shake_px=1.0, **{"bezel": 40.0, "seed": seed, **wall})
                    path = os.path.join(folder, f"lit{seed}-{start:g}.mp4")
                    film(displays, camera, path, start)
                    result = video.analyse(video_io.Video(path).frames(),
                                           [d.group for d in displays])
                    self.assertEqual(len(result.windows), 3)
                    for window in result.windows:
                        self.assertLess(window.moments[0], read_by_ms)
                        self.assertLess(abs(window.offset_ms), largest_ms)


class WallsUnlikeOurs(unittest.TestCase):
    """Three 1920x1080 windows side by side in a 720p video, 400 video pixels each: frame lines
    a fifth of a pixel wide that a sensor which skips pixels sees as dashes or not at all, or
    that compression fades into panels glowing grey."""

    def test_every_window_is_found_from_the_first_second(self):
        displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", 60.0, 4.0, 0.0) for i in range(3)]
        cases = (("skip", 28, 0.0, 0.3), ("bin", 28, 0.0, 0.3), ("skip", 23, 30.0, 0.05))
        with tempfile.TemporaryDirectory() as folder:
            for number, (sampling, crf, bezel, black) in enumerate(cases):
                with self.subTest(sampling=sampling, crf=crf, bezel=bezel, black=black):
                    camera = VideoCamera(photo_size=(1280, 720), yaw_deg=6, coverage=0.95,
                                         exposure_ms=1.0, fps=30.0, duration_s=1.0,
                                         shake_px=0.5, sampling=sampling, crf=crf,
                                         bezel=bezel, black_level=black, seed=7 + number)
                    path = os.path.join(folder, f"wall{number}.mp4")
                    film(displays, camera, path, START_MS)
                    result = video.analyse(video_io.Video(path).frames(),
                                           [d.group for d in displays])
                    self.assertEqual(sorted(w.name for w in result.windows),
                                     sorted(d.name for d in displays))
                    self.assertEqual(result.missing, [])
                    self.assertFalse(any("first shows" in w for w in result.warnings),
                                     result.warnings)


def _course(name, held_at=(), followed=True, scatter=0.02):
    """A window of a 60 Hz wall read over a second, in step, holding frames at held_at (ms)."""
    moments = np.arange(0.0, 1000.0, 1000.0 / 60)
    return video.WindowCourse(
        name, (0, 0, 1280, 720, "V"), False, moments, np.zeros(len(moments)),
        np.zeros(len(moments)), timeline=course.Timeline(1000.0 / 60, [(0.0, 0.0)]) if followed
        else None, stutters=[course.Stutter(t, 1, True) for t in held_at],
        lag_scatter=scatter if followed else float("nan"), leader="1", offsets=np.zeros(
            len(moments)), offset_ms=0.0)


class HeldFrames(unittest.TestCase):
    def test_a_held_frame_is_alone_only_beside_windows_that_would_show_one(self):
        rough = course.MAX_LAG_SCATTER * 2
        cases = [
            ("all hold it", [(500,), (500,), (500,)], {}, "in sync"),
            ("one window does not", [(500,), (500,), ()], {}, "not in sync"),
            ("one too rough to tell", [(500,), (500,), ()], {2: dict(scatter=rough)},
             "cannot tell"),
            ("the others not followed", [(500,), (), ()],
             {1: dict(followed=False), 2: dict(followed=False)}, "cannot tell"),
            ("a window alone", [(500,)], {}, "not in sync"),
        ]
        for label, held, settings, answer in cases:
            with self.subTest(label):
                windows = [_course(str(i + 1), at, **settings.get(i, {}))
                           for i, at in enumerate(held)]
                result = video.VideoResult(windows, 60.0, 0.0, "given", 60, 1000.0, [])
                video._swap_lock(windows, 1000.0 / 60)
                video._judge(result, 1000.0 / 60)
                self.assertEqual(result.verdict, answer, result.reasons)
                self.assertEqual("no window stutters alone" in result.judgement.settled,
                                 answer == "in sync", result.judgement.settled)


class Drift(unittest.TestCase):
    def test_a_drift_within_what_an_unknown_readout_allows_is_in_step(self):
        # 60.000 and 60.006 Hz, each rate read to 0.0005 Hz: the 0.006 stands out, unless a
        # readout not known may move a rate by 0.003 refreshes per second as well.
        cases = [("readout known", 0.0, False), ("readout not known", 0.003, True)]
        for name, readout_drift, in_step in cases:
            with self.subTest(name):
                windows = [_course(str(i + 1)) for i in range(2)]
                for window, hz in zip(windows, (60.0, 60.006)):
                    window.timeline = course.Timeline(1000.0 / hz, [(0.0, 0.0)],
                                                      0.0005 * 1000.0 / hz ** 2)
                    window.readout_drift = readout_drift
                video._drift(windows[1], windows[0], 1000.0 / 60)
                self.assertAlmostEqual(windows[1].drift, 0.006, places=6)
                self.assertEqual(windows[1].in_step, in_step)


if __name__ == "__main__":
    unittest.main()
