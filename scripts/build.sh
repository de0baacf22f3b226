#!/usr/bin/env bash
# Configures (once) and builds both configurations under build/:
#   build/native  the plain code and its unit tests, with AddressSanitizer and UBSan
#   build/win     the Windows program and the test probe, cross-compiled with MinGW-w64
# With "win" as argument only the Windows program is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build() {
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S "$root" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)" -- --no-print-directory >/dev/null
}

build "$root/build/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
[ "${1:-}" = win ] && exit 0
build "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
