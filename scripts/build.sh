#!/usr/bin/env bash
# Configures (once) and builds the named configurations under build/ (default: win native):
#   win     the Windows program and its test probe, cross-compiled with MinGW-w64
#   native  the plain code and its unit tests, and the Linux program with its test probe, all
#           with AddressSanitizer and UBSan: what the tests run
#   linux   the Linux program and its probe, optimised: what scripts/run.sh runs on Linux
#   win-clang  the Windows program built by clang instead, warnings as errors: a second compiler
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build() {
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] || cmake -S "$root" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)" -- --no-print-directory >/dev/null
}

for config in "${@:-win native}"; do
    for name in $config; do
        case $name in
        win) build "$root/build/win" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" ;;
        native) build "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON ;;
        linux) build "$root/build/linux" -DCMAKE_BUILD_TYPE=Release ;;
        win-clang) build "$root/build/win-clang" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-w64-x86_64.cmake" ;;
        *) echo "build.sh: unknown configuration $name" >&2 && exit 1 ;;
        esac
    done
done
