"""The command: inspect [options] PHOTO|VIDEO [x y width height mode ...].

Exit status: 0 in sync, 3 not in sync, 4 cannot tell, 1 nothing to read, 2 wrong usage.
"""

import argparse
import json
import os
import sys

from analyser import __version__, annotate, photo_io, report, video, video_io, video_report
from analyser.photo import NothingToRead, analyse

IN_SYNC, NOTHING_TO_READ, USAGE, NOT_IN_SYNC, CANNOT_TELL = 0, 1, 2, 3, 4
INT32 = (-2 ** 31, 2 ** 31 - 1)
MIN_WINDOW = 20  # smaller windows cannot hold the frame and both bars
PHOTO_SUFFIXES = {".jpg", ".jpeg", ".png"}


class UsageError(Exception):
    pass


def _parser():
    parser = argparse.ArgumentParser(
        prog="inspect", usage="inspect [options] PHOTO|VIDEO [x y width height mode ...]",
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
    parser.add_argument("--version", action="version", version=f"varnel-inspect {__version__}")
    return parser


def split_arguments(argv):
    """Options (wherever they stand) and the positional words: the photo, then the groups,
    whose numbers may be negative and so look like options."""
    valued = {"--annotate", "--plot", "--refresh", "--readout"}
    options, words = [], []
    arguments = iter(argv)
    for word in arguments:
        name = word.split("=", 1)[0]
        if name in valued | {"--json", "-h", "--help"}:
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


def parse_groups(words):
    """The tool's argument groups: (x, y, width, height, mode letter) tuples."""
    if len(words) % 5:
        raise UsageError(f"the groups need five arguments each (x y width height mode); "
                         f"{len(words)} given")
    groups = []
    for i in range(0, len(words), 5):
        x, y, width, height = (leading_integer(w) for w in words[i:i + 4])
        if width < MIN_WINDOW or height < MIN_WINDOW:
            raise UsageError(f"window at {x},{y} is {width}x{height}: too small to carry the "
                             "pattern")
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
        groups = parse_groups(words[1:])
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


def _inspect_video(path, groups, settings):
    try:
        clip = video_io.Video(path)
    except video_io.UnreadableVideo as error:
        print(f"inspect: {error}", file=sys.stderr)
        return NOTHING_TO_READ
    try:
        progress = video_io.Progress(clip.claimed_frames)
        result = video.analyse(clip.frames(), groups, settings.refresh, settings.readout,
                               progress)
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
