#!/usr/bin/env bash
# Installs, with apt-get (and npm for one check), whatever building, running and testing need
# and is not there yet.
# Safe to run again: when everything is installed it does nothing and prints nothing.
set -euo pipefail

packages=(
    cmake make g++ libgtest-dev clang-format   # native build, unit tests, formatting check
    libx11-dev libgl-dev libgl1-mesa-dri       # the Linux program: Xlib, GLX, llvmpipe
    g++-mingw-w64-x86-64                       # the Windows program (x86_64-w64-mingw32-g++-posix)
    wine wine64                                # runs it here
    xvfb x11-utils imagemagick                 # virtual display, its check, screenshots
    python3                                    # end-to-end test harness
    python3-numpy python3-opencv               # the photo and video analyser
    python3-matplotlib ffmpeg                  # its plots; the camera model's videos
    python3-pycodestyle python3-pyflakes       # its style check
    python3-pip python3-setuptools python3-wheel python3-venv  # its wheel, built offline
    clang lld                                  # the Windows program by a second compiler
    npm                                        # the workflow files' schema check
    valgrind                                   # the benchmark's instruction counts
)

root=$(cd "$(dirname "$0")/.." && pwd)
validator=$root/build/tools/node_modules/.bin/action-validator

missing=()
for package in "${packages[@]}"; do
    # npm may come with Node.js from elsewhere; Debian's package is then not needed.
    [ "$package" = npm ] && command -v npm >/dev/null && continue
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "setup: installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The schema check of the CI workflow files, from the npm registry, kept in the build folder.
if [ ! -x "$validator" ]; then
    echo "setup: installing @action-validator/cli"
    npm install --prefix "$root/build/tools" --no-audit --no-fund --loglevel=error \
        @action-validator/cli@0.6.0 @action-validator/core@0.6.0 >/dev/null
fi
