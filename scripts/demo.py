"""Shows the tool at work where there is no display: runs it on a virtual one for a few seconds,
saves a screenshot, closes every window with Esc and prints what the tool wrote, then what the
photo analyser reads from the screenshot."""

import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("VARNEL_BUILD_DIR", os.path.join(ROOT, "build", "win"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from harness import BUILD_DIR, PLATFORM, SESSIONS  # noqa: E402

RUN_SECONDS = 5


def main(args):
    session = SESSIONS[PLATFORM]().start()
    try:
        run = session.launch(*args)
        if not args or len(args) % 5:
            # The tool answers a wrong argument count with its usage text and nothing else.
            print(session.usage_text(run))
            session.dismiss_usage(run)
            status = run.wait_exit()
            print(f"[demo] exit status {status}")
            return status
        windows = session.wait_for_windows(len(args) // 5, visible=True)
        # Let the windows run for a while; this is a demonstration, not a test.
        time.sleep(RUN_SECONDS)
        screenshot = os.path.join(BUILD_DIR, "demo-screenshot.png")
        session.save_screenshot(screenshot)
        for window in windows:
            session.send("esc", window.x, window.y)
        status = run.wait_exit()
        sys.stdout.write(run.output())
        print(f"[demo] exit status {status}; screenshot of the virtual display: {screenshot}")
        print("[demo] the photo analyser on the screenshot (scripts/inspect.sh):")
        subprocess.run([os.path.join(ROOT, "scripts", "inspect.sh"), screenshot, *args])
        return status
    finally:
        session.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
