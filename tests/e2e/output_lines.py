"""The lines the tool writes between its opening empty line and its closing "finished.", as
patterns: anything else in the output is a malformed or interleaved line."""

import re

# Frames between two report lines of a window.
REPORT_FRAMES = 100

NUMBER = r"-?\d+"
POSITION = rf"window at ({NUMBER}),({NUMBER})"

REPORT = re.compile(rf"{POSITION} refreshes at (\S+)Hz \(min\. (\S+)Hz\)")
SWAP_INTERVAL = re.compile(rf"{POSITION} set swap interval (-1|0|1)")
JOINED = re.compile(rf"{POSITION} joined swap group")
BOUND = re.compile(r"bound swap barrier")
SETUP_FAILED = re.compile(rf"{POSITION} could not be set up: .+")
THREAD_FAILED = re.compile(rf"{POSITION} could not start its thread: .+")
CONNECTION_LOST = re.compile(rf"{POSITION} lost its display connection")

WINDOW_LINES = (REPORT, SWAP_INTERVAL, JOINED, BOUND, SETUP_FAILED, THREAD_FAILED,
                CONNECTION_LOST)


def is_window_line(line):
    return any(pattern.fullmatch(line) for pattern in WINDOW_LINES)


def looks_interleaved(line):
    """A line that carries pieces of two lines: written by two threads at once."""
    return line.count("window at") > 1 or line.count("Hz") > 2 or "finished." in line[1:]
