"""The command: inspect [options] PHOTO|VIDEO [x y width height mode ...], or for windows of
several machines inspect [options] PHOTO|VIDEO --machine NAME [x y width height mode ...] ...
[--place NAME=X,Y ...].

Exit status: 0 in sync, 3 not in sync, 4 cannot tell, 1 nothing to read, 2 wrong usage.
"""

import argparse
import contextlib
import json
import os
import sys

from analyser import (__version__, annotate, machines, photo_io, report, video, video_io,
                      video_report, video_workers)
from analyser.photo import NothingToRead, analyse

IN_SYNC, NOTHING_TO_READ, USAGE, NOT_IN_SYNC, CANNOT_TELL = 0, 1, 2, 3, 4
INT32 = (-2 ** 31, 2 ** 31 - 1)
MIN_WINDOW = 20  # smaller windows cannot hold the frame and both bars
PHOTO_SUFFIXES = {".jpg", ".jpeg", ".png"}


class UsageError(Exception):
    pass


class MachineMark(str):
    """Where --machine NAME stands among the positional words."""


def _parser():
    parser = argparse.ArgumentParser(
        prog="inspect", usage="inspect [options] PHOTO|VIDEO [x y width height mode ...] "
                              "[--machine NAME x y width height mode ...] [--place NAME=X,Y]",
        description="Reads the tool's test pattern from a photo or a video of the running "
                    "displays and says whether they are in sync.")
    parser.add_argument("--json", action="store_true",
                        help="write the result as one JSON object instead of the summary")
    parser.add_argument("--annotate", metavar="OUT.png", help="write the photo with findings")
    parser.add_argument("--plot", metavar="OUT.png",
                        help="draw a video's offsets and scan positions over time")
    parser.add_argument("--refresh", metavar="HZ", type=float, default=60.0,
                        help="the displays' refresh rate (default 60)")
    parser.add_argument("--readout", metavar="MS", type=float,
                        help="the camera's top-to-bottom sensor readout time")
    parser.add_argument("--machine", metavar="NAME", action="append", default=[],
                        help="the groups that follow are the command line of the machine of "
                             "that name; its windows are named NAME/x,y")
    parser.add_argument("--place", metavar="NAME=X,Y", action="append", default=[],
                        help="where on the wall that machine's desktop lies (wall pixels); "
                             "by default right of the machine before it")
    parser.add_argument("--version", action="version", version=f"varnel-inspect {__version__}")
    return parser


def split_arguments(argv):
    """Options (wherever they stand) and the positional words: the photo, then the groups,
    whose numbers may be negative and so look like options."""
    valued = {"--annotate", "--plot", "--refresh", "--readout", "--machine", "--place"}
    options, words = [], []
    arguments = iter(argv)
    for word in arguments:
        name = word.split("=", 1)[0]
        if name == "--machine":
            # Where it stands matters: the groups after it are that machine's.
            value = word.split("=", 1)[1] if "=" in word else next(arguments, "")
            options += ["--machine", value]
            words.append(MachineMark(value))
        elif name in valued | {"--json", "-h", "--help"}:
            options.append(word)
            if name in valued and "=" not in word:
                options.append(next(arguments, ""))
        elif word.startswith("--"):
            options.append(word)  # unknown: the parser says so; numbers have one dash
        else:
            words.append(word)
    return options, words


def leading_integer(text):
    """A number read as the tool reads it: leading blanks, a sign, digits up to the first
    non-digit; 0 when there are none; clamped to 32 bits."""
    text = text.lstrip(" \t\n\v\f\r")
    sign = -1 if text[:1] == "-" else 1
    digits = text[1:] if text[:1] in "+-" else text
    count = len(digits) - len(digits.lstrip("0123456789"))
    value = sign * int(digits[:count]) if count else 0
    return max(INT32[0], min(INT32[1], value))


def parse_wall(words, place_options):
    """The groups of every window on the wall: the tool's argument groups as (x, y, width,
    height, mode letter) tuples for one machine, or Groups placed on the wall for several."""
    if not any(isinstance(w, MachineMark) for w in words):
        if place_options:
            raise UsageError("--place needs --machine")
        return parse_groups(words)
    if not isinstance(words[0], MachineMark):
        raise UsageError("groups before the first --machine belong to no machine")
    starts = [i for i, w in enumerate(words) if isinstance(w, MachineMark)] + [len(words)]
    given = []
    for start, end in zip(starts, starts[1:]):
        name = str(words[start])
        if not name or "/" in name or any(name == other for other, _ in given):
            raise UsageError(f"--machine {name!r}: each machine needs a name of its own, "
                             "without a slash")
        given.append((name, parse_groups(words[start + 1:end], name + "/")))
    places = _places(place_options, {name for name, _ in given})
    groups = machines.place(given, places)
    if len({(g[0], g[1]) for g in groups}) < len(groups):
        raise UsageError("two windows lie at the same place on the wall, so they cannot be "
                         "told apart: say where each machine's desktop lies with --place")
    return groups


def _places(options, names):
    """--place NAME=X,Y values: name to (X, Y) in wall pixels."""
    places = {}
    for option in options:
        name, _, where = option.partition("=")
        position = where.split(",")
        if name not in names or len(position) != 2 or not all(
                p.strip().lstrip("+-").isdigit() for p in position):
            raise UsageError(f"--place {option}: give NAME=X,Y for a machine named by "
                             "--machine")
        places[name] = tuple(int(p) for p in position)
    return places


def parse_groups(words, machine=""):
    """The tool's argument groups: (x, y, width, height, mode letter) tuples. machine: the
    prefix of their windows' names in messages."""
    if len(words) % 5:
        raise UsageError(f"the groups {'of ' + machine[:-1] + ' ' if machine else ''}need "
                         f"five arguments each (x y width height mode); {len(words)} given")
    groups = []
    for i in range(0, len(words), 5):
        x, y, width, height = (leading_integer(w) for w in words[i:i + 4])
        if width < MIN_WINDOW or height < MIN_WINDOW:
            raise UsageError(f"window at {machine}{x},{y} is {width}x{height}: too small to "
                             "carry the pattern")
        groups.append((x, y, width, height, words[i + 4][:1]))
    if len({(g[0], g[1]) for g in groups}) < len(groups):
        raise UsageError("two groups have the same position, so their windows cannot be "
                         "told apart")
    return groups


def main(argv=None):
    """The command on argv (by default the process's arguments); returns the exit status."""
    parser = _parser()
    argv = sys.argv[1:] if argv is None else argv
    options, words = split_arguments(argv)
    try:
        settings = parser.parse_args(options)
    except SystemExit as stop:
        return USAGE if stop.code else IN_SYNC
    try:
        if not words:
            raise UsageError("no photo or video given")
        if not settings.refresh > 0 or (settings.readout is not None and
                                        not 0 <= settings.readout < 1000):
            raise UsageError("--refresh must be above 0 and --readout from 0 to 1000 ms")
        if isinstance(words[0], MachineMark):
            raise UsageError("no photo or video given before --machine")
        groups = parse_wall(words[1:], settings.place)
    except UsageError as error:
        parser.print_usage(sys.stderr)
        print(f"inspect: {error}", file=sys.stderr)
        return USAGE
    path = words[0]
    if _is_video(path):
        return _inspect_video(path, groups, settings)
    return _inspect_photo(path, groups, settings)


def _is_video(path):
    """A file is read as a video unless it holds a still image or is named as a photo."""
    if video_io.is_still_image(path):
        if os.path.splitext(path)[1].lower() not in PHOTO_SUFFIXES:
            print(f"inspect: {path} holds a still image, not a video: it is read as a photo",
                  file=sys.stderr)
        return False
    return os.path.splitext(path)[1].lower() not in PHOTO_SUFFIXES


def _inspect_photo(path, groups, settings):
    try:
        photo = photo_io.read(path)
        result = analyse(photo, groups, settings.refresh, settings.readout)
    except (photo_io.UnreadablePhoto, NothingToRead) as error:
        print(f"inspect: {error}", file=sys.stderr)
        return NOTHING_TO_READ
    if settings.annotate:
        try:
            annotate.write(settings.annotate, photo, result)
        except OSError as error:
            print(f"inspect: {error}", file=sys.stderr)
    if settings.plot:
        print("inspect: --plot draws a video's course; a photo has none", file=sys.stderr)
    return _print_result(result, path, settings, report, "photo")


def _workers_for(clip, groups):
    """Worker processes to read the windows of a long video on (the frames decoded into memory
    they share), started now so that they are ready soon after the first windows are found;
    a context that gives None for a short one."""
    count = video_workers.worth_starting(clip.duration_s, len(groups) or None)
    try:
        if count:
            return video.start_workers(count, clip.shape, video_io.RING_FRAMES)
    except OSError:  # no processes to be had: the video is read in this one
        pass
    return contextlib.nullcontext()


def _inspect_video(path, groups, settings):
    try:
        clip = video_io.Video(path)
    except video_io.UnreadableVideo as error:
        print(f"inspect: {error}", file=sys.stderr)
        return NOTHING_TO_READ
    try:
        progress = video_io.Progress(clip.claimed_frames)
        with _workers_for(clip, groups) as pool:
            result = video.analyse(clip.frames(pool and pool.frames), groups, settings.refresh,
                                   settings.readout, progress, pool)
    except video.NothingToRead as error:
        print(f"inspect: {path}: {error}", file=sys.stderr)
        return NOTHING_TO_READ
    finally:
        clip.close()
    if clip.claimed_frames and clip.frames_read < 0.98 * clip.claimed_frames:
        result.warnings.append(f"the video ends early: {clip.frames_read} of the "
                               f"{clip.claimed_frames} frames its header promises were read")
    if settings.plot:
        try:
            from analyser import plot
            plot.write(settings.plot, result)
        except (OSError, ImportError) as error:
            print(f"inspect: cannot draw the plot: {error}", file=sys.stderr)
    if settings.annotate:
        print("inspect: --annotate marks a photo; for a video use --plot", file=sys.stderr)
    return _print_result(result, path, settings, video_report, "video")


def _print_result(result, path, settings, form, source):
    """The groups not found on standard error, the result in the form asked for, and the exit
    status that tells the verdict."""
    for name in result.missing:
        print(f"inspect: window {name} was not found in the {source}", file=sys.stderr)
    if settings.json:
        print(json.dumps(form.result_json(result, path)))
    else:
        print(form.summary(result))
    return {True: IN_SYNC, False: NOT_IN_SYNC, None: CANNOT_TELL}[result.in_sync]
