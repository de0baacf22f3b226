#!/usr/bin/env bash
# Sets up the machine, builds both configurations and runs every test: the native unit tests and
# the end-to-end tests of the Linux program (under AddressSanitizer and UBSan), then the
# end-to-end tests of the Windows program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
"$root/scripts/build.sh" win native win-clang
# The end-to-end tests of one configuration take turns (a resource lock); the unit tests run
# beside them.
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)")
(cd "$root/build/win" && ctest --output-on-failure)
# The second compiler's build must pass, and its executable carry what the first one's does.
(cd "$root/build/win-clang" && ctest --output-on-failure -R '^manifest$')
echo "Windows program under Wine: $(cat "$root/build/win/stress-summary.txt")"
echo "Linux program on GLX:       $(cat "$root/build/native/stress-summary.txt")"
