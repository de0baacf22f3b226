"""Scores the video analyser on videos made by the camera model from known truth and prints the
figures side by side: offset, drift, slip and stutter errors per frame rate, where the slips
are placed in long videos of a drifting pair, and the speed and memory of reading 1080p video.
With --against REV it scores the analyser of that git revision on the very same videos, in
the same run.

    /usr/bin/python3 bench/video_bench.py [--videos N] [--long-videos N] [--seed S]
                                          [--keep DIR] [--details] [--against REV]

The videos are filmed once into a scratch folder; each analyser reads them in a process of its
own (so that two versions of the package never meet in one interpreter).
"""

import argparse
import contextlib
import json
import os
import pickle
import resource
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, replace
from multiprocessing import Pool

import numpy as np

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
# The analyser scored is the one of --root (set before anything imports it), else the tree's.
sys.path[:0] = [sys.argv[sys.argv.index("--root") + 1] if "--root" in sys.argv else ROOT,
                BENCH]

from analyser import course, rectify, video, video_io, video_workers  # noqa: E402
from camera import wall_to_photo, window_to_photo  # noqa: E402
from photo_bench import analyser_of, scored_in_process  # noqa: E402
from photo_scenes import FAMILIES, unlike_ours as unlike_photo  # noqa: E402
from video_camera import VideoCamera, VideoDisplay, film  # noqa: E402

KINDS = ["in sync", "drift", "other rate", "lag", "stutters alone", "stutters together",
         "tearing", "phase jump", "two clocks"]
FRAME_RATES = [30, 60, 120, 240]
SIZES = [(1280, 720), (1920, 1080)]
# Long videos of a pair drifting 0.06 refreshes per second apart (59.94 or 60.06 Hz beside
# 60), long enough for them to slip a frame, as a phone on a tripod films a wall: 720p, 30 fps.
LONG_VIDEO = dict(kind="drift", fps=30, size=(1280, 720), duration_s=20.0)
LONG = "30, 20 s"
# What a wall and a camera unlike ours share with the photo benchmark's: its panels, glare and
# tone curve.
UNLIKE_WALL = ("tone", "black_level", "bezel", "bezel_shade", "glare", "glare_centre",
               "glare_radius", "glare_band", "glare_band_angle_deg", "glare_band_width", "gain",
               "sharpen")
FIRST_FOUND_MS = 1000.0  # every window is to be found this soon into the video


@dataclass
class Scene:
    kind: str
    displays: list
    camera: VideoCamera
    start_ms: float
    family: str = "ours"


def random_scene(seed, long=False):
    """The scene of a seed: its kind and frame rate follow from it, the rest is drawn. A long
    one is of LONG_VIDEO, at 60 Hz."""
    rng = np.random.default_rng(seed)
    kind = KINDS[seed % len(KINDS)]
    fps = FRAME_RATES[(seed // len(KINDS)) % len(FRAME_RATES)]
    duration = 5.0 if fps <= 60 else 2.5
    size = SIZES[seed % 2]
    count = int(rng.integers(2, 4))
    refresh = float(rng.choice([60.0, 60.0, 50.0, 75.0]))
    if long:
        kind, fps, size, duration = (LONG_VIDEO[k] for k in ("kind", "fps", "size",
                                                             "duration_s"))
        count, refresh = 2, 60.0
    phase = float(rng.uniform(0, 1000 / refresh))
    lag = float(rng.choice([1.0, 1.0, 2.0]))
    start = float(rng.uniform(500, 4000))
    displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", refresh, phase, lag)
                for i in range(count)]
    victim = displays[-1]
    middle = start + duration * 1000 * rng.uniform(0.3, 0.7)
    if kind == "drift":
        victim.refresh_hz = float(rng.choice([59.94, 60.06])) if refresh == 60 else \
            refresh * (1 + float(rng.choice([-1e-3, 1e-3])))
    elif kind == "other rate":
        victim.refresh_hz = 60.0 if refresh != 60 else float(rng.choice([50.0, 75.0]))
    elif kind == "lag":
        victim.lag_frames += 1.0
        victim.lag_changes = [(middle, victim.lag_frames + float(rng.choice([-1.0, 0.3])))]
    elif kind in ("stutters alone", "stutters together"):
        moments = start + np.sort(rng.choice(np.arange(0.3, duration - 0.3, 0.45),
                                             int(rng.integers(2, 5)), replace=False)) * 1000
        holds = [(float(m), int(rng.integers(1, 3))) for m in moments]
        for display in displays if kind == "stutters together" else [victim]:
            display.holds = holds
    elif kind == "tearing":
        victim.mode = "N"
        victim.swap_interval_ms = float(rng.uniform(5.0, 9.0))
    elif kind == "phase jump":
        for display in displays:
            display.phase_changes = [(middle, phase + float(rng.uniform(0.3, 0.7)) * 1000
                                      / refresh)]
        victim.phase_changes = []
    elif kind == "two clocks":
        victim.clock_offset_ms = float(rng.uniform(1000, 9000))
    camera = VideoCamera(
        photo_size=size, yaw_deg=float(rng.uniform(-15, 15)),
        pitch_deg=float(rng.uniform(-5, 5)), roll_deg=float(rng.uniform(-2, 2)),
        coverage=float(rng.uniform(0.8, 0.95)),
        exposure_ms=float(rng.uniform(0.25, 1.0)),
        # A camera reads a frame out within a frame's time.
        readout_ms=float(rng.choice([0.0, min(rng.uniform(5, 33), 900 / fps)])),
        blur_px=float(rng.uniform(0.5, 1.2)), noise=float(rng.uniform(0.004, 0.012)),
        vignetting=float(rng.uniform(0.1, 0.3)), bezel=float(rng.uniform(30, 100)),
        fps=float(fps), duration_s=duration, shake_px=float(rng.choice([0.0, 1.0, 2.0])),
        crf=int(rng.integers(16, 24)), seed=seed)
    return Scene(kind, displays, camera, start)


def unlike_ours(seed, long=False):
    """The displays and timing of random_scene(seed), filmed on a wall and with a camera unlike
    ours: the photo benchmark's panels that abut or nearly do, blacks up to a third of white,
    glare across panels and tone curves; a sensor that skips pixels in video mode as often as
    one that bins them, windows down to 300 video pixels wide in 720p, H.264 at CRF up to 28."""
    scene = random_scene(seed, long)
    wall = unlike_photo(seed).camera
    rng = np.random.default_rng([seed, 20])
    camera = replace(scene.camera, **{name: getattr(wall, name) for name in UNLIKE_WALL},
                     sampling=str(rng.choice(["bin", "skip"])),
                     coverage=float(rng.uniform(0.7, 0.95)),
                     photo_size=(1280, 720) if long or rng.random() < 0.7 else (1920, 1080),
                     crf=int(rng.integers(16, 29)))
    return replace(scene, camera=camera, family="unlike ours")


def scene_of(family, seed, long=False):
    return unlike_ours(seed, long) if family == "unlike ours" else random_scene(seed, long)


def window_widths(scene):
    """How many video pixels wide each display's window is, by name."""
    homography, positions = wall_to_photo(scene.displays, scene.camera)
    widths = {}
    for display, position in zip(scene.displays, positions):
        widths[display.name] = rectify.photo_extent(window_to_photo(homography, position),
                                                    display.width, display.height)[0]
    return widths


def truth_offsets(truth, scene, leader):
    """Mean ms each display is behind the leader, over frames clear of stutters."""
    names = truth.names
    periods = np.array([d.refresh_ms for d in scene.displays])
    clear = np.ones(len(truth.frame_ms), bool)
    for display in scene.displays:
        for moment in truth.stutters[display.name]:
            since = truth.frame_ms - moment
            clear &= ~((since >= -display.refresh_ms) & (since <= 4 * display.refresh_ms))
    reference = truth.leads[:, names.index(leader)]
    return {name: float(np.mean((reference - truth.leads[:, i])[clear]))
            for i, name in enumerate(names)}, periods


def truth_slips(truth, scene, reference):
    index = truth.names.index(reference)
    found = {}
    for i, display in enumerate(scene.displays):
        relative = np.mod(truth.scans[:, i] - truth.scans[:, index], 1.0)
        drift = display.refresh_hz - scene.displays[index].refresh_hz
        found[display.name] = course.slips(truth.frame_ms - scene.start_ms, relative) \
            if 0 < abs(drift) < 1 else []
    return found


# --- Filming the videos (the main process) ---

def _film(job):
    seed, folder, long, family = job
    scene = scene_of(family, seed, long)
    prefix = "unlike-" if family == "unlike ours" else ""
    stem = os.path.join(folder, f"{prefix}{'long' if long else 'video'}-{seed}")
    truth = film(scene.displays, scene.camera, stem + ".mp4", scene.start_ms)
    with open(stem + ".truth", "wb") as out:
        pickle.dump((seed, scene, truth, stem + ".mp4", long), out)
    return stem + ".truth"


def film_all(jobs):
    with Pool(2) as pool:
        return pool.map(_film, jobs)


# --- Scoring them with one analyser (a process of its own) ---

def _figures_of(result):
    """What the report needs of a video's result, as plain values."""
    return {"frames": result.frames, "in_sync": result.in_sync, "verdict": result.verdict,
            "reasons": result.reasons,
            "windows": [{"name": w.name, "leader": w.leader, "clock": w.clock,
                         "offset_ms": w.offset_ms, "drift": w.drift, "slips": list(w.slips),
                         "stutters": [s.moment_ms for s in w.stutters],
                         "first_read_ms": float(w.moments[0])} for w in result.windows]}


def _score(truth_file):
    with open(truth_file, "rb") as source:
        seed, scene, _, path, _ = pickle.load(source)
    began = time.process_time()
    try:
        result = video.analyse(video_io.Video(path).frames(), [d.group for d in scene.displays],
                               scene.displays[0].refresh_hz,
                               scene.camera.readout_ms if seed % 2 else None)
    except video.NothingToRead:
        result = None
    return {"file": truth_file, "spent": time.process_time() - began,
            "result": None if result is None else _figures_of(result)}


def score_all(truth_files):
    """Prints one JSON object per video, two read at a time."""
    with Pool(2) as pool:
        for figures in pool.imap(_score, truth_files):
            print(json.dumps(figures, default=float), flush=True)


def run_scoring(root, truth_files, folder):
    """Each video's figures as the analyser at root reads it, with its scene and truth."""
    scored = []
    for figures in scored_in_process(__file__, root, truth_files,
                                     os.path.join(folder, "videos.json")):
        with open(figures["file"], "rb") as source:
            seed, scene, truth, _, long = pickle.load(source)
        scored.append((seed, scene, truth, figures["result"], figures["spent"], long))
    return scored


def _near(found, expected, tolerance):
    """(expected moments matched, found moments matching none), one to one."""
    found = list(found)
    matched = 0
    for moment in expected:
        close = [f for f in found if abs(f - moment) <= tolerance]
        if close:
            found.remove(min(close, key=lambda f: abs(f - moment)))
            matched += 1
    return matched, len(found)


def _slip_errors(found, expected, within_ms=2000.0):
    """For each expected slip, how far (ms) the nearest found one lies, where one lies within
    within_ms."""
    errors = []
    for moment in expected:
        nearest = min((abs(f - moment) for f in found), default=np.inf)
        if nearest <= within_ms:
            errors.append(nearest)
    return errors


def _empty_row():
    return dict(windows=0, found=0, offsets=[], drifts=[], slips=[0, 0, 0], slip_errors=[],
                drift_unread=0, stutters=[0, 0, 0], seconds=0.0, frames=0, verdict=[0, 0, 0])


def _finding(scene, result, finding):
    """Adds to finding (per family) the windows there and found by sensor sampling and by
    width, and how soon every window was found."""
    found = {w["name"]: w for w in result["windows"]} if result else {}
    for name, width in window_widths(scene).items():
        kinds = [f"{scene.camera.sampling} sensor"]
        if width < 400:
            kinds.append("windows under 400 video pixels wide")
            if name in found:
                finding["smallest"] = min(finding.get("smallest", np.inf), width)
        for kind in kinds:
            counts = finding.setdefault(kind, [0, 0])
            counts[0] += 1
            counts[1] += name in found
    every = [w["first_read_ms"] for w in found.values()] if len(found) == len(
        scene.displays) else []
    finding.setdefault("all found after", []).append(max(every) if every else np.inf)


def report(scored, details=False):
    """The table of figures per family and frame rate; scored: (seed, scene, truth, result's
    figures (_figures_of) or None, processor seconds, long) per video."""
    rows = {}
    finding = {}
    for seed, scene, truth, result, spent, long in scored:
        rate = LONG if long else str(int(scene.camera.fps))
        row = rows.setdefault((scene.family, rate), _empty_row())
        row["windows"] += len(scene.displays)
        row["verdict"][2] += 1
        _finding(scene, result, finding.setdefault(scene.family, {}))
        if result is None:
            continue
        frame_ms = 1000.0 / scene.camera.fps
        by_name = {w["name"]: w for w in result["windows"]}
        row["found"] += len(by_name)
        leader = next((w["leader"] for w in result["windows"] if w["clock"] == 0),
                      truth.names[0])
        offsets, _ = truth_offsets(truth, scene, leader)
        reference = leader
        slips = truth_slips(truth, scene, reference)
        clocks = {d.clock_offset_ms for d in scene.displays}
        for display in scene.displays:
            window = by_name.get(display.name)
            label = (f"{scene.family} video {seed} ({scene.kind}, {scene.camera.fps:g} fps, "
                     f"{scene.camera.sampling}) window {display.name}")
            if window is None:
                if details:
                    print(f"{label}: not found")
                continue
            misses = []
            if len(clocks) == 1 and not display.swap_interval_ms:
                error = abs(window["offset_ms"] - offsets[display.name])
                row["offsets"].append(error)
                if error > 1.0:
                    misses.append(f"offset {window['offset_ms']:.2f} ms, truth "
                                  f"{offsets[display.name]:.2f}")
            drift = window["drift"]
            if drift is None and not display.swap_interval_ms:
                row["drift_unread"] += 1
                misses.append("drift not read")
            if drift is not None and not display.swap_interval_ms:
                expected = display.refresh_hz - next(
                    d.refresh_hz for d in scene.displays if d.name == reference)
                row["drifts"].append(abs(drift - expected))
                if abs(drift - expected) > 0.005:
                    misses.append(f"drift {drift:+.4f}, truth {expected:+.4f}")
            # A slip is placed right within one refresh of the moment it happens.
            found_slips = window["slips"]
            matched, invented = _near(found_slips, slips[display.name], display.refresh_ms)
            row["slips"][0] += matched
            row["slips"][1] += len(slips[display.name])
            row["slips"][2] += invented
            row["slip_errors"] += _slip_errors(found_slips, slips[display.name])
            if matched < len(slips[display.name]) or invented:
                misses.append(f"slips {[round(s) for s in found_slips]}, truth "
                              f"{[round(s) for s in slips[display.name]]}")
            expected = [m - scene.start_ms for m in truth.stutters[display.name]]
            matched, invented = _near(window["stutters"], expected, frame_ms + 1)
            row["stutters"][0] += matched
            row["stutters"][1] += len(expected)
            row["stutters"][2] += invented
            if matched < len(expected) or invented:
                misses.append(f"stutters {[round(m) for m in window['stutters']]}, "
                              f"truth {[round(m) for m in expected]}")
            if misses and details:
                print(f"{label}: {'; '.join(misses)}")
        row["seconds"] += spent
        row["frames"] += result["frames"]
        expected_sync = scene.kind in ("in sync", "stutters together")
        # CANNOT TELL is not a wrong answer, but a verdict not given.
        row["verdict"][0] += result["in_sync"] == expected_sync
        row["verdict"][1] += result["in_sync"] is None
        if details and result["in_sync"] is not None and result["in_sync"] != expected_sync:
            print(f"{scene.family} video {seed} ({scene.kind}, {scene.camera.fps:g} fps): "
                  f"{result['verdict'].upper()}, wrong: {'; '.join(result['reasons'])}")
    print(f"{'family':>11} {'fps':>8} {'windows':>9} {'offset err ms':>20} {'drift err':>17} "
          f"{'slips':>13} {'stutters':>16} {'verdict':>14}")
    print(f"{'':>11} {'':>8} {'found':>9} {'mean / 95th / max':>20} {'95th / max':>17} "
          f"{'placed/all +new':>13} {'placed/all +invented':>16} {'right/cannot/all':>14}")
    for (family, fps), row in sorted(rows.items(), key=_row_order):
        offsets = np.array(row["offsets"]) if row["offsets"] else np.array([np.nan])
        drifts = np.array(row["drifts"]) if row["drifts"] else np.array([np.nan])
        print(f"{family:>11} {fps:>8} {row['found']:>4}/{row['windows']:<4} "
              f"{np.nanmean(offsets):6.2f} {np.nanpercentile(offsets, 95):6.2f} "
              f"{np.nanmax(offsets):6.2f} {np.nanpercentile(drifts, 95):8.4f} "
              f"{np.nanmax(drifts):8.4f} {row['slips'][0]:>5}/{row['slips'][1]:<3}+"
              f"{row['slips'][2]:<3} {row['stutters'][0]:>7}/{row['stutters'][1]:<3}+"
              f"{row['stutters'][2]:<4} {row['verdict'][0]:>5}/{row['verdict'][1]}/"
              f"{row['verdict'][2]}")
    for (family, rate), row in sorted(rows.items(), key=_row_order):
        fps = f"{family}, {rate}"
        if row["drift_unread"]:
            print(f"{fps} fps videos: drift not read for {row['drift_unread']} windows that do "
                  "not tear (no refresh timeline)")
        if row["slip_errors"]:
            print(f"{fps} fps videos: slips placed {_figures(row['slip_errors'])} ms from the "
                  "truth (those found within 2 s of one)")
        if row["frames"]:
            print(f"{fps} fps videos: analysed at {row['frames'] / row['seconds']:.0f} frames "
                  "per CPU second")
    for family, figures in finding.items():
        counts = ", ".join(f"{kind} {figures[kind][1]} of {figures[kind][0]}"
                           for kind in figures if kind.endswith(("sensor", "wide")))
        print(f"{family}: windows found: {counts}; smallest found "
              f"{figures.get('smallest', np.nan):.0f} video pixels wide")
        after = np.array(figures["all found after"]) / 1000
        print(f"{family}: every window found within {FIRST_FOUND_MS / 1000:g} s in "
              f"{np.sum(after <= FIRST_FOUND_MS / 1000)} of {len(after)} videos; the last "
              f"window first read, median / largest: {np.median(after):.2f} / "
              f"{np.max(after):.2f} s")


def _row_order(item):
    (family, fps), _ = item
    return FAMILIES.index(family), (fps == LONG, int(fps.split(",")[0]))


def _figures(values):
    return ", ".join(f"{v:.0f}" for v in sorted(values))


def speed_and_memory(analysers):
    """Reading speed of 1080p video, and the peak memory of reading a short and a long one:
    in one process, and as the command reads it (on worker processes too where the video is
    long enough for them to pay); each of the analysers ((heading, root) pairs) in turn on
    every video, so that the machine's own changes of speed fall on all alike."""
    displays = [VideoDisplay(i * 1920, 0, 1920, 1080, "V", 60.0, 3.0, 1.0) for i in range(2)]
    figures = []
    with tempfile.TemporaryDirectory() as folder:
        for seconds in (2.0, 8.0):
            camera = VideoCamera(photo_size=(1920, 1080), fps=60.0, duration_s=seconds,
                                 exposure_ms=0.5, seed=5)
            path = os.path.join(folder, f"speed-{seconds:g}.mp4")
            film(displays, camera, path, 1000.0)
            workers = video_workers.worth_starting(seconds, len(displays))
            for count in sorted({0, workers}):
                for heading, root in analysers:
                    command = [sys.executable, __file__, "--read", path, "--workers",
                               str(count), "--root", root]
                    done = subprocess.run(command, capture_output=True, text=True, check=True)
                    figures.append((heading, seconds, count, *done.stdout.split()))
    for heading, seconds, count, fps, later_fps, memory, worker_memory in figures:
        way = f"{count} worker process{'es' * (count > 1)} beside" if count else "one process"
        print(f"{heading}: 1080p, 2 windows, {seconds:g} s at 60 fps, {way}: read at "
              f"{float(fps):.0f} frames per second (wall clock; after the first second "
              f"{float(later_fps):.0f}), peak memory {float(memory) / 1024:.0f} MB"
              + (f" and {float(worker_memory) / 1024:.0f} MB per worker" if count else ""))


class _Clock:
    """A progress callback that notes when each frame was read."""

    def __init__(self):
        self.times = []

    def update(self, done):
        self.times.append(time.perf_counter())

    def finish(self):
        pass


def read_only(path, workers):
    clip = video_io.Video(path)
    groups = [(0, 0, 1920, 1080, "V"), (1920, 0, 1920, 1080, "V")]
    clock = _Clock()
    began = time.perf_counter()
    pool = video.start_workers(workers, clip.shape, video_io.RING_FRAMES) if workers else None
    with pool or contextlib.nullcontext():
        result = video.analyse(clip.frames(pool and pool.frames), groups, progress=clock,
                               pool=pool)
    rate = result.frames / (time.perf_counter() - began)
    second = int(clip.fps)
    later = (len(clock.times) - 1 - second) / (clock.times[-1] - clock.times[second])
    print(rate, later, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss,
          resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--videos", type=int, default=36)
    parser.add_argument("--long-videos", type=int, default=4,
                        help="long videos of a drifting pair, for where the slips are placed")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--keep", metavar="DIR")
    parser.add_argument("--details", action="store_true",
                        help="name every window that misses a target, and how")
    parser.add_argument("--families", default=",".join(FAMILIES),
                        help="families of walls and cameras to film: "
                        + " and ".join(repr(f) for f in FAMILIES))
    parser.add_argument("--against", metavar="REV", help="also score the analyser of REV")
    parser.add_argument("--read", metavar="VIDEO", help=argparse.SUPPRESS)
    parser.add_argument("--workers", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--score", help=argparse.SUPPRESS)
    parser.add_argument("--root", help=argparse.SUPPRESS)
    settings = parser.parse_args()
    if settings.read:
        read_only(settings.read, settings.workers)
        return
    if settings.score:
        with open(settings.score) as listing:
            score_all(json.load(listing))
        return
    families = [f.strip() for f in settings.families.split(",")]
    seeds = range(settings.seed, settings.seed + settings.videos)
    long_seeds = range(settings.seed, settings.seed + settings.long_videos)
    with tempfile.TemporaryDirectory() as scratch:
        folder = settings.keep or scratch
        os.makedirs(folder, exist_ok=True)
        # The long ones first, so that the two processes end about together.
        truth_files = film_all([(seed, folder, True, family)
                                for family in families for seed in long_seeds]
                               + [(seed, folder, False, family)
                                  for family in families for seed in seeds])
        analysers = [("this tree", ROOT)]
        if settings.against:
            analysers.insert(0, (settings.against, analyser_of(settings.against, scratch)))
        for heading, root in analysers:
            print(f"--- {heading} ---")
            report(run_scoring(root, truth_files, scratch), settings.details)
        speed_and_memory(analysers)


if __name__ == "__main__":
    main()
