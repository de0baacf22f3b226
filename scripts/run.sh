#!/usr/bin/env bash
# Sets up, builds the Windows program if needed and runs it under Wine with the given groups of
# five arguments (x y width height mode), or two windows side by side when none are given.
# With no X display at hand it runs a demo on a virtual one: the windows run for a few seconds,
# a screenshot is saved under build/win and the windows are closed with Esc.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" win

args=("$@")
[ ${#args[@]} -gt 0 ] || args=(40 40 600 400 V 680 40 600 400 V)

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec wine "$root/build/win/Varnel.exe" "${args[@]}"
fi
exec python3 "$root/scripts/demo.py" "${args[@]}"
