#!/usr/bin/env bash
# Builds the Windows program and runs the frame-loop benchmark under Wine on a virtual display.
# BENCH_SECONDS (default 5) and BENCH_ROUNDS (default 5) set the length of each run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" win
exec python3 "$root/bench/frame_loop_bench.py"
