#!/usr/bin/env bash
# Installs the Debian packages Lumacap needs to build, test and run, but only those missing.
# Safe to run again: when everything is present it does nothing and needs no network.
set -euo pipefail

packages=(
    # building
    build-essential cmake ninja-build pkg-config git ccache
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libjpeg62-turbo-dev
    # the X11 display backend, and the X server, programs and tools its tests use
    libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-randr0-dev
    libxcb-xtest0-dev libxcb-composite0-dev libxcb-icccm4-dev libxcb-ewmh-dev libxcb-cursor-dev
    libxcb-image0-dev libxcb-keysyms1-dev libxcb-render0-dev libxcb-render-util0-dev
    xvfb x11-apps x11-utils
    # a window manager, for the tests of what one does to our windows
    openbox
    # microphones through the sound server, and a server for the tests
    libpulse-dev pulseaudio pulseaudio-utils
    # the camera double served as a device node
    libfuse3-dev fuse3
    # the Windows compile check, and Wine for its smoke run
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
    # formatting, lint, sanitizers and fuzzing
    clang clang-format clang-tidy clang-tools libclang-rt-14-dev
    # reading recorded files back, and the references the benchmarks compare against
    ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "lumacap: installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
        echo "lumacap: need root (or sudo) to install: ${missing[*]}" >&2; exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
