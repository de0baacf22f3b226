#!/usr/bin/env bash
# Sets up, builds if needed and runs the tool with the given groups of five arguments
# (x y width height mode), or two windows side by side when none are given.
# VARNEL_PLATFORM picks the program: wine (default) runs the Windows program under Wine, x11 the
# native Linux one. With no X display at hand it runs a demo on a virtual one: the windows run
# for a few seconds, a screenshot is saved in the build folder and the windows are closed with Esc.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

platform=${VARNEL_PLATFORM:-wine}
case $platform in
wine)
    build=$root/build/win
    exe=$build/Varnel.exe
    probe=$build/tests/probe.exe
    tool=(wine "$exe")
    config=win
    ;;
x11)
    build=$root/build/linux
    exe=$build/varnel
    probe=$build/tests/x11_probe
    tool=("$exe")
    config=linux
    ;;
*) echo "run.sh: VARNEL_PLATFORM must be wine or x11" >&2 && exit 1 ;;
esac

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$config"

args=("$@")
[ ${#args[@]} -gt 0 ] || args=(40 40 600 400 V 680 40 600 400 V)

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "${tool[@]}" "${args[@]}"
fi
export VARNEL_PLATFORM=$platform VARNEL_BUILD_DIR=$build VARNEL_EXE=$exe VARNEL_PROBE=$probe
exec python3 "$root/scripts/demo.py" "${args[@]}"
