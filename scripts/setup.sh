#!/usr/bin/env bash
# Installs, with apt-get, whatever building, running and testing need and is not there yet.
# Safe to run again: when everything is installed it does nothing and prints nothing.
set -euo pipefail

packages=(
    cmake make g++ libgtest-dev clang-format   # native build, unit tests, formatting check
    libx11-dev libgl-dev libgl1-mesa-dri       # the Linux program: Xlib, GLX, llvmpipe
    g++-mingw-w64-x86-64                       # the Windows program (x86_64-w64-mingw32-g++-posix)
    wine wine64                                # runs it here
    xvfb x11-utils imagemagick                 # virtual display, its check, screenshots
    python3                                    # end-to-end test harness
    python3-numpy python3-opencv               # the photo analyser
    python3-pycodestyle python3-pyflakes       # its style check
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
