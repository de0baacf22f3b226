"""Frame-loop overhead counted in instructions: the Linux build's frame loop (mode N) against
x11_reference_loop (the same GL calls, no clock, no meter), each run under callgrind on a
virtual display with Mesa's llvmpipe kept to one thread. Instruction counts do not move with
the machine's load, as frame rates do.

For each program: warm up, zero the counters, count a stretch of frames, dump. Frames are the
calls to glXSwapBuffers in the dump; instructions are all the process's, and its own: its code
and what that calls outside the GL, X and driver libraries (the clock, the C++ library).

    /usr/bin/python3 bench/instruction_bench.py      (scripts/bench.sh builds first)
"""

import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from harness import start_xvfb  # noqa: E402

BUILD = os.path.join(ROOT, "build", "linux")
PROGRAMS = {"tool": [os.path.join(BUILD, "varnel"), "0", "0", "64", "48", "N"],
            "reference": [os.path.join(BUILD, "x11_reference_loop"), "0", "0", "64", "48"]}
WARM_UP_LINES = 3  # lines of 100 frames before counting starts
COUNTED_LINES = 10
# Libraries whose work is the platform's: GL, X, the driver and its compiler, and the GL
# dispatch stubs the driver writes at run time (no object file: "???").
PLATFORM = re.compile(r"^lib(GL|GLX|GLdispatch|EGL|X|xcb|gallium|LLVM|glapi|drm)"
                      r"|_dri\.so|^\?\?\?$")


def parse_dump(path, program):
    """(frames, instructions, own instructions) from a callgrind dump. Frames are the calls to
    glXSwapBuffers. Own instructions are the program's own code and what it calls outside the
    GL, X and driver libraries (the clock, the C++ library): the work the GL and X calls do is
    the platform's."""
    objects = {}
    names = {}
    total = own = frames = 0
    current = callee_object = callee = function = ""
    call_pending = False
    with open(path) as dump:
        for line in dump:
            key, _, rest = line.partition("=")
            if key in ("ob", "cob"):
                ident, _, name = rest.strip().partition(" ")
                objects[ident] = name or objects.get(ident, ident)
                if key == "ob":
                    current = callee_object = objects[ident]
                else:
                    callee_object = objects[ident]
            elif key in ("fn", "cfn"):
                ident, _, name = rest.strip().partition(" ")
                names[ident] = name or names.get(ident, ident)
                if key == "cfn":
                    callee = names[ident]
                else:
                    function = names[ident]
                    callee_object = current
            elif key == "calls":
                call_pending = True
                if callee == "glXSwapBuffers":
                    frames += int(rest.split()[0])
            elif line[:1].isdigit() or line[:1] in "+-*":
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                # "(below main)" stands for the C library's start-up, which holds the whole run.
                mine = os.path.basename(current) == program and function != "(below main)"
                if call_pending:  # the inclusive cost of the call just named
                    call_pending = False
                    if mine and os.path.basename(callee_object) != program and \
                            not PLATFORM.search(os.path.basename(callee_object)):
                        own += cost
                    callee_object = current
                    continue
                total += cost
                if mine:
                    own += cost
    return frames, total, own


def count(name, command, display, folder):
    out = os.path.join(folder, f"{name}.out")
    env = dict(os.environ, DISPLAY=display, LP_NUM_THREADS="0")
    run = subprocess.Popen(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                            *command], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    try:
        lines = 0
        for _ in run.stdout:
            lines += 1
            if lines == WARM_UP_LINES:
                subprocess.run(["callgrind_control", "-z", str(run.pid)], check=True,
                               capture_output=True)
            if lines == WARM_UP_LINES + COUNTED_LINES:
                subprocess.run(["callgrind_control", "-d", str(run.pid)], check=True,
                               capture_output=True)
                break
    finally:
        run.kill()
        run.wait()
    dumps = sorted(f for f in os.listdir(folder) if f.startswith(f"{name}.out."))
    return parse_dump(os.path.join(folder, dumps[-1]), os.path.basename(command[0]))


def main():
    xvfb, display = start_xvfb(640, 480)
    try:
        with tempfile.TemporaryDirectory() as folder:
            figures = {name: count(name, command, display, folder)
                       for name, command in PROGRAMS.items()}
    finally:
        xvfb.terminate()
    print(f"Instructions per frame, callgrind, 64x48 window, mode N, llvmpipe one thread, "
          f"{COUNTED_LINES * 100} frames counted after {WARM_UP_LINES * 100} "
          f"({time.strftime('%Y-%m-%d')}):\n")
    print("| program | frames counted | instructions per frame | own (outside GL, X, driver) |")
    print("|---|---|---|---|")
    for name, (frames, total, own) in figures.items():
        print(f"| {name} | {frames} | {total / frames:,.0f} | {own / frames:,.0f} |")
    (tool_frames, tool, tool_own), (ref_frames, reference, ref_own) = figures.values()
    ratio = (reference / ref_frames) / (tool / tool_frames)
    print(f"\nratio reference / tool, instructions per frame: {ratio:.5f} (target >= 0.999)")
    print(f"the tool's own work beyond the reference's: "
          f"{tool_own / tool_frames - ref_own / ref_frames:,.0f} instructions per frame")


if __name__ == "__main__":
    main()
