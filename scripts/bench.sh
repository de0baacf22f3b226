#!/usr/bin/env bash
# Builds both programs, counts the frame loop's instructions (Linux build, callgrind), measures
# the start skew of eight windows under Wine, and runs the wall-clock frame-loop benchmark under
# Wine on a virtual display. BENCH_SECONDS (default 5) and BENCH_ROUNDS (default 10) set the
# length and number of the wall-clock runs, BENCH_SKEW_RUNS (default 7) the start-skew runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" win linux
python3 "$root/bench/instruction_bench.py"
echo
python3 "$root/bench/start_skew_bench.py"
echo
exec python3 "$root/bench/frame_loop_bench.py"
