"""Scores the photo analyser on photos made by the camera model from known truth, for three
families (our walls, walls and cameras unlike ours, our walls at a turn of the sweep), and
prints the figures side by side: windows found and named, windows not judged, verdicts, lag,
scan-position and break errors, and the time to analyse a 12-megapixel photo. With --against
REV it scores the analyser of that git revision on the very same photos, in the same run.

    /usr/bin/python3 bench/photo_bench.py [--photos N] [--seed S] [--against REV] [--keep DIR]

The photos are made once into a scratch folder; each analyser reads them in worker processes
of its own (so that two versions of the package never meet in one interpreter).
"""

import argparse
import itertools
import json
import os
import pickle
import subprocess
import sys
import tempfile
import time
from multiprocessing import Pool

import numpy as np

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
LARGE_PX = 500  # windows at least this wide in the photo are held to the lag target
VISIBLE_JUMP_PX = 1.0  # breaks smaller than this (window pixels) are not expected to be seen,
VISIBLE_PHOTO_PX = 0.6  # nor smaller than this in the photo,
EDGE_SHARE = 0.03  # nor this close to a window's top or bottom,
HIDDEN_SHARE = 0.01  # and this close they cannot be: between the two, either verdict is right.
FAINT_PHOTO_PX = 0.45  # Breaks from this to VISIBLE_PHOTO_PX may show or not: either is right
# A display may show its frames this late (a television's picture processing): content this
# near a turn of the sweep shows the bars that content as far the other side of it would, and a
# lag of up to twice that either way is as likely as none.
TURN_LAG_MS = 100.0
SPEED_PHOTOS = 20  # 12-megapixel photos timed
VERDICTS = ("in sync", "not in sync", "cannot tell")


def _visible(truth, display, edge_share, photo_px=VISIBLE_PHOTO_PX):
    """Truth breaks the photo can show: (row, kind, jump in window pixels)."""
    scale = truth.photo_width / display.width
    return [(row, kind, jump) for row, kind, jump in truth.breaks
            if jump >= max(VISIBLE_JUMP_PX, photo_px / scale)
            and edge_share * display.height <= row <= (1 - edge_share) * display.height]


def visible_breaks(truth, display):
    return _visible(truth, display, EDGE_SHARE)


def truth_verdicts(scene, truths):
    """The verdicts the photo supports, as a set: out of sync where a lag, a tear or the scan
    positions show it; cannot tell where no such thing shows but the scan positions do not
    settle it. A window whose boundary does not show was blanking or scanning rows near its
    edges when its rows were read, which leaves its scan position on an arc (unseen_arc); a
    boundary close to a window's edge may show or not, so both answers are right there, and
    so are they where a break's jump is near the least a photo shows (FAINT_PHOTO_PX). With
    no boundary shown at all the photo does not show the displays refreshing. Where the bars'
    pixels allow a lag either side of the limit, cannot tell is right too; where the windows'
    bars at a turn of the sweep allow it, only cannot tell is (turn_leaves_lag_open)."""
    displays = scene.displays
    lag_open = lag_left_open(truths, displays)
    turn_open = turn_leaves_lag_open(scene, truths)

    def judged(edge_share, photo_px=VISIBLE_PHOTO_PX):
        seen = [any(kind == "scan" for _, kind, _ in _visible(t, d, edge_share, photo_px))
                for t, d in zip(truths, displays)]
        tears = any(kind == "tear" for t, d in zip(truths, displays)
                    for _, kind, _ in _visible(t, d, edge_share, photo_px))
        points = [t.scan for t, s in zip(truths, seen) if s]
        arcs = [unseen_arc(t, d, edge_share) for t, d, s in zip(truths, displays, seen)
                if not s]
        least, most = spread_bounds(points, [a for a in arcs if a is not None])
        if tears or least > 0.1:
            return {"not in sync"}
        if turn_open:
            return {"cannot tell"}
        lag = "not in sync" if any(t.lag_frames >= 0.5 for t in truths) else None
        if lag is None and 1 < len(truths) and (not points or None in arcs or most > 0.1):
            return {"cannot tell"}
        told = {lag or "in sync"}
        return told | {"cannot tell"} if lag_open else told
    return judged(EDGE_SHARE) | judged(HIDDEN_SHARE) | judged(EDGE_SHARE, FAINT_PHOTO_PX)


def turn_leaves_lag_open(scene, truths):
    """Whether the bars leave open, at a turn of the sweep, whether some window lags half a
    frame or more: a window whose content lies within TURN_LAG_MS / 2 of a turn shows the bars
    of content as far the other side of it, unless a break in its rows tells which way its bars
    ran (the frames either side of it both on one side of the turn), and some choice of those
    puts the largest lag on the other side of half a frame than the truth's."""
    from analyser.pattern import PERIOD_MS
    choices = []
    for truth, display in zip(truths, scene.displays):
        rows = np.arange(display.height, dtype=float)
        moments = scene.moment_ms + truth.read_ms + scene.camera.exposure_ms / 2
        shown = display.content_time(rows, moments)
        lead = float(np.mean(shown - display.presented(rows, moments)))
        turn = np.round(np.mean(shown) / (PERIOD_MS / 2)) * PERIOD_MS / 2
        ahead = float(np.mean(shown) - turn)  # of the turn, ms
        told = any(np.ptp(np.sign(shown[row - 1:row + 1] - turn)) == 0
                   for row, _, _ in visible_breaks(truth, display))
        mirrored = [] if told or abs(ahead) > TURN_LAG_MS / 2 else [lead - 2 * ahead]
        choices.append([(lead, display.refresh_ms)] + [(m, display.refresh_ms)
                                                       for m in mirrored])
    verdicts = set()
    for choice in itertools.product(*choices):
        leads = np.array([lead for lead, _ in choice])
        periods = np.array([period for _, period in choice])
        verdicts.add(bool(np.any((leads.max() - leads) / periods >= 0.5)))
    return len(verdicts) > 1


def unseen_arc(truth, display, edge_share):
    """The scan fractions (at the moment of truth.scan) at which the display would show its
    boundary in none of its rows edge_share and more from its top and bottom, when the camera
    read them: (start, length), or None where a boundary would not show anyway (a jump too
    small for the photo) or would show at every fraction."""
    from analyser.pattern import SWEEP_PER_MS
    from camera import BLANKING
    jump = (display.width - 9) * SWEEP_PER_MS * display.refresh_ms
    if jump < max(VISIBLE_JUMP_PX, VISIBLE_PHOTO_PX * display.width / truth.photo_width):
        return None
    rows = np.arange(display.height)
    shown = (rows >= edge_share * display.height) & (rows <= (1 - edge_share) * display.height)
    # Row r is scanned out at the fraction (r + 0.5) / height * (1 - BLANKING) of a refresh.
    ruled_out = ((rows[shown] + 0.5) / display.height * (1 - BLANKING)
                 - truth.read_ms[shown] / display.refresh_ms)
    span = ruled_out.max() - ruled_out.min()
    return None if span >= 1 else (ruled_out.max() % 1.0, 1.0 - span)


def spread_bounds(points, arcs, grid=2000):
    """The least and the most spread (circular_spread) of positions some known (points), some
    anywhere on arcs ((start, length)), over every choice on the arcs, to 1 / grid."""
    starts = np.arange(grid) / grid
    reach = [np.mod(p - starts, 1.0) for p in points]
    reach += [np.where(np.mod(starts - a, 1.0) <= length, 0.0, np.mod(a - starts, 1.0))
              for a, length in arcs]
    least = float(np.max(reach, axis=0).min()) if reach else 0.0
    ends = [a + np.linspace(0, length, grid) for a, length in arcs]
    return least, circular_spread(np.concatenate([np.asarray(points, float), *ends]))


def lag_left_open(truths, displays):
    """Whether the windows' pixels leave open if some window lags half a frame or more: the
    leads they allow give a largest lag between two windows under it as well as one over it."""
    lows = [t.lead_range_ms[0] / d.refresh_ms for t, d in zip(truths, displays)]
    highs = [t.lead_range_ms[1] / d.refresh_ms for t, d in zip(truths, displays)]
    least = max(0.0, max(lows) - min(highs))
    return least < 0.5 <= max(highs) - min(lows)


def circular_spread(fractions):
    points = np.sort(np.mod(fractions, 1.0))
    if len(points) < 2:
        return 0.0
    return float(1.0 - np.diff(np.concatenate([points, points[:1] + 1.0])).max())


def verdict_of(result):
    """The analyser's verdict; an analyser of before the three answers says in_sync only."""
    if result is None:
        return "cannot tell"
    return getattr(result, "verdict", None) or ("in sync" if result.in_sync else "not in sync")


def evaluate(scene, truths, result):
    """Per-photo figures: counts, lists of errors and flags."""
    out = {"expected": len(truths), "found_right": 0, "unjudged": 0, "all_named": False,
           "lag_errors": [], "lag_errors_all": [], "scan_errors": [], "scan_missed": 0,
           "scan_invented": 0, "breaks_expected": 0, "breaks_found": 0, "tears_invented": 0,
           "truth": sorted(truth_verdicts(scene, truths)),
           "verdict": verdict_of(result), "family": scene.family,
           "lag_open": lag_left_open(truths, scene.displays)}
    if result is None:
        return out
    out["unsettled"] = sorted({_unsettled_kind(u) for u in result.judgement.unsettled})
    by_name = {w.name: w for w in result.windows}
    tolerance = 0.05 * max(scene.camera.photo_size)
    right = [t for t in truths if t.name in by_name and
             np.linalg.norm(by_name[t.name].centre - t.corners.mean(0)) < tolerance]
    out["found_right"] = len(right)
    out["all_named"] = len(right) == len(truths) == len(result.windows)
    judged = [t for t in right if by_name[t.name].reliable]
    out["unjudged"] = len(right) - len(judged)
    if judged:
        _lag_errors(out, judged, by_name, result.sign_known)
    for truth, display in zip(truths, scene.displays):
        if truth in right:
            _break_figures(out, truth, display, by_name[truth.name])
    return out


def _unsettled_kind(point):
    """What kind of point a photo leaves unsettled, told by the advice the analyser gives."""
    from analyser import photo
    # An analyser of before the unseen refresh start has no advice of its own for it.
    if point.advice in (photo.SCALE_ADVICE, getattr(photo, "START_ADVICE", None)):
        return "lag"
    if point.advice == photo.CLOCK_ADVICE:
        return "clock"
    return "scan" if point.advice.startswith("take another photo") else "window"


def _lag_errors(out, judged, by_name, sign_known):
    measured = np.array([by_name[t.name].lag_frames for t in judged])
    expected = np.array([t.lag_frames for t in judged])
    # Lags count from the leading window, which may itself be misread: compare them up to a
    # common offset, the median one, so that one misread window does not spoil the others.
    errors = measured - expected - np.median(measured - expected)
    if not sign_known:
        mirrored = -measured - expected - np.median(-measured - expected)
        errors = min(errors, mirrored, key=lambda e: np.abs(e).max())
    for truth, error in zip(judged, errors):
        out["lag_errors_all"].append(float(abs(error)))
        if truth.photo_width >= LARGE_PX:
            out["lag_errors"].append(float(abs(error)))


def _break_figures(out, truth, display, window):
    boundary = any(k == "scan" for _, k, _ in truth.breaks)
    if window.scan is not None and boundary:
        difference = abs(truth.scan - window.scan)
        out["scan_errors"].append(float(min(difference, 1 - difference)))
    elif window.scan is None and any(k == "scan" for _, k, _ in visible_breaks(truth, display)):
        out["scan_missed"] += 1
    elif window.scan is not None and not boundary:
        out["scan_invented"] += 1
    tolerance = 0.02 * display.height
    for row, _, _ in visible_breaks(truth, display):
        out["breaks_expected"] += 1
        out["breaks_found"] += any(abs(b.row - row) <= tolerance for b in window.breaks)
    for tear in window.tears:
        if not any(abs(tear.row - row) <= tolerance and kind == "tear"
                   for row, kind, _ in truth.breaks):
            out["tears_invented"] += 1


# --- Making the photos (the main process) ---

def _make(job):
    family, seed, folder = job
    from camera import photograph
    from photo_scenes import scene_of
    scene = scene_of(family, seed)
    data, suffix, truths = photograph(scene.displays, scene.camera, scene.moment_ms)
    stem = os.path.join(folder, f"{family.replace(' ', '-')}-{seed}")
    with open(stem + suffix, "wb") as out:
        out.write(data)
    with open(stem + ".truth", "wb") as out:
        pickle.dump((scene, truths, stem + suffix), out)
    return stem + ".truth"


def make_photos(families, seeds, folder):
    jobs = [(family, seed, folder) for family in families for seed in seeds]
    with Pool(2) as pool:
        return pool.map(_make, jobs)


# --- Scoring them with one analyser (a worker process of its own) ---

def _settings(scene):
    """What a user would give the analyser for the scene: groups, refresh rate, readout."""
    return [d.group for d in scene.displays], scene.refresh_hz, scene.camera.readout_ms or None


def _analysed(scene, path):
    from analyser import photo_io
    from analyser.photo import NothingToRead, analyse
    try:
        return analyse(photo_io.read(path), *_settings(scene))
    except NothingToRead:
        return None


def _score(truth_file):
    with open(truth_file, "rb") as source:
        scene, truths, path = pickle.load(source)
    figures = evaluate(scene, truths, _analysed(scene, path))
    figures["pixels"] = int(np.prod(scene.camera.photo_size))
    figures["file"] = path
    return figures


def score_all(truth_files):
    """Prints one JSON object per photo, then the seconds each large photo took."""
    with Pool(2) as pool:
        for figures in pool.imap(_score, truth_files):
            print(json.dumps(figures))
    large = []
    for truth_file in truth_files:
        with open(truth_file, "rb") as source:
            scene, _, path = pickle.load(source)
        if np.prod(scene.camera.photo_size) >= 11e6 and len(large) < SPEED_PHOTOS:
            large.append((scene, path))
    # Timed one at a time once the others are done, so that they do not share the cores.
    for scene, path in large:
        started = time.perf_counter()
        _analysed(scene, path)
        print(json.dumps({"seconds": time.perf_counter() - started}))


def analyser_of(revision, folder):
    """A folder holding the analyser package of a git revision."""
    target = os.path.join(folder, f"analyser-{revision}")
    os.makedirs(target)
    archive = subprocess.run(["git", "-C", ROOT, "archive", revision, "analyser"],
                             check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", target], input=archive, check=True)
    return target


def scored_in_process(script, root, files, listing):
    """The JSON objects a benchmark script prints scoring the files with its hidden --score
    option, in a process of its own reading the analyser at root. listing: a file to name
    the files in."""
    with open(listing, "w") as out:
        json.dump(files, out)
    done = subprocess.run([sys.executable, script, "--score", listing, "--root", root],
                          capture_output=True, text=True, check=True)
    return [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]


def run_scoring(root, truth_files, folder):
    rows = scored_in_process(__file__, root, truth_files, os.path.join(folder, "photos.json"))
    return [r for r in rows if "seconds" not in r], [r["seconds"] for r in rows if "seconds" in r]


# --- The table ---

def _share(count, total):
    return f"{count} of {total} ({100 * count / max(total, 1):.1f} %)"


def _percentiles(values, form="{:.3f}"):
    values = np.asarray(values, float)
    if not len(values):
        return "-"
    return f"{form.format(np.percentile(values, 95))} / {form.format(values.max())}"


def figures_of(rows, seconds):
    def flat(key):
        return [v for r in rows for v in r[key]]

    def total(key):
        return sum(r[key] for r in rows)

    settled = [r for r in rows if "cannot tell" not in r["truth"]]
    unsettled = [r for r in rows if r["truth"] == ["cannot tell"]]
    return {
        "photos": str(len(rows)),
        "windows found and named right": _share(total("found_right"), total("expected")),
        "windows found but not judged": _share(total("unjudged"), total("expected")),
        "photos with every window named, none invented": _share(
            sum(r["all_named"] for r in rows), len(rows)),
        "verdict right, photos the photo settles": _share(
            sum(r["verdict"] in r["truth"] for r in settled), len(settled)),
        "CANNOT TELL, of all photos": _share(
            sum(r["verdict"] == "cannot tell" for r in rows), len(rows)),
        "CANNOT TELL for: lag near its doubt / scan-out unseen / window unread": " / ".join(
            str(sum(kind in r.get("unsettled", ()) and r["verdict"] == "cannot tell"
                    for r in rows)) for kind in ("lag", "scan", "window")),
        "photos it does not settle: IN SYNC or NOT IN SYNC said": _share(
            sum(r["verdict"] != "cannot tell" for r in unsettled), len(unsettled)),
        "photos where both answers hold": str(sum(len(r["truth"]) > 1 for r in rows)),
        "photos whose bars' pixels allow a lag either side of the limit": str(
            total("lag_open")),
        "lag error, windows >= 500 px, 95th pct / largest": _percentiles(flat("lag_errors")),
        "lag error, all windows, 95th pct / largest": _percentiles(flat("lag_errors_all")),
        "scan position error, 95th pct / largest": _percentiles(flat("scan_errors")),
        "scan positions missed / reported where none shows":
            f"{total('scan_missed')} / {total('scan_invented')}",
        "breaks found within 2 % of the height":
            _share(total("breaks_found"), total("breaks_expected")),
        "tears reported where there is none": str(total("tears_invented")),
        "12-MP photo, seconds, mean / largest":
            f"{np.mean(seconds):.2f} / {np.max(seconds):.2f} ({len(seconds)})" if seconds
            else "-",
    }


TARGETS = {
    "windows found and named right": ">= 99 %",
    "windows found but not judged": "< 1 %",
    "verdict right, photos the photo settles": ">= 97 %",
    "CANNOT TELL, of all photos": "< 5 %",
    "photos it does not settle: IN SYNC or NOT IN SYNC said": "0",
    "lag error, windows >= 500 px, 95th pct / largest": "<= 0.25",
    "12-MP photo, seconds, mean / largest": "< 1.5",
}


def report(columns):
    """columns: (heading, figures) pairs, printed side by side."""
    names = list(columns[0][1])
    width = max(len(n) for n in names)
    cell = max(max(len(v) for _, f in columns for v in f.values()), max(
        len(h) for h, _ in columns)) + 2
    print(f"{'':<{width}}  " + "".join(f"{h:<{cell}}" for h, _ in columns) + "target")
    for name in names:
        print(f"{name:<{width}}  " + "".join(f"{f[name]:<{cell}}" for _, f in columns)
              + TARGETS.get(name, ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--photos", type=int, default=200, help="photos per family")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--families", default="ours,unlike ours,at a turn")
    parser.add_argument("--against", metavar="REV", help="also score the analyser of REV")
    parser.add_argument("--keep", metavar="DIR", help="make the photos there and keep them")
    parser.add_argument("--misjudged", action="store_true",
                        help="list the photos misjudged or with windows not named right")
    parser.add_argument("--score", help=argparse.SUPPRESS)
    parser.add_argument("--root", help=argparse.SUPPRESS)
    settings = parser.parse_args()
    sys.path[:0] = [settings.root or ROOT, BENCH]
    if settings.score:
        with open(settings.score) as listing:
            score_all(json.load(listing))
        return
    families = [f.strip() for f in settings.families.split(",")]
    seeds = range(settings.seed, settings.seed + settings.photos)
    with tempfile.TemporaryDirectory() as scratch:
        folder = settings.keep or scratch
        os.makedirs(folder, exist_ok=True)
        truth_files = make_photos(families, seeds, folder)
        analysers = [("this tree", ROOT)]
        if settings.against:
            analysers.insert(0, (settings.against, analyser_of(settings.against, scratch)))
        columns = []
        for heading, root in analysers:
            rows, seconds = run_scoring(root, truth_files, scratch)
            for family in families:
                mine = [r for r in rows if r["family"] == family]
                columns.append((f"{heading}: {family}", figures_of(
                    mine, seconds if family == families[0] else [])))
            if settings.misjudged:
                for r in rows:
                    if r["verdict"] not in r["truth"] or not r["all_named"]:
                        print(f"{heading}: {os.path.basename(r['file'])}: {r['verdict']}, "
                              f"truth {' or '.join(r['truth'])}, named {r['found_right']} of "
                              f"{r['expected']}, not judged {r['unjudged']}")
    report(columns)


if __name__ == "__main__":
    main()
