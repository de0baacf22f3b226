#!/usr/bin/env bash
# Sets up the machine, builds both configurations and runs every test: the native unit tests
# (under AddressSanitizer and UBSan) and the end-to-end tests of the Windows program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)")
(cd "$root/build/win" && ctest --output-on-failure)
cat "$root/build/win/stress-summary.txt"
