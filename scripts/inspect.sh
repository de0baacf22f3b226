#!/usr/bin/env bash
# Analyses a photo or a video of displays running the tool:
#   inspect.sh [options] PHOTO|VIDEO [groups ...]
# Uses the system's Python, which has Debian's numpy and OpenCV (a python3 earlier on PATH may
# be another interpreter without them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if ! "$python" -c "import numpy, cv2, matplotlib" 2>/dev/null; then
    "$root/scripts/setup.sh" >&2
fi
PYTHONPATH="$root${PYTHONPATH:+:$PYTHONPATH}" exec "$python" -m analyser "$@"
