#!/usr/bin/env bash
# The Windows compile check: cross-compiles the library and the portable part of the platform with
# mingw-w64 and links a static Windows executable that creates a camera and a recorder. Where Wine
# is installed, the executable also runs (a smoke run; CI does not install Wine).
#   scripts/windows-check.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

cmake -S "$root/platform/windows" -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DLUMACAP_WERROR="${LUMACAP_WERROR:-ON}" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
echo "windows-check: $build/windows_check.exe links"

# Debian's wine64 package puts its loader outside PATH.
wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64 2>/dev/null || true)
if [ -n "$wine" ]; then
    echo "windows-check: running it under $wine"
    # A prefix of its own, so the run neither needs nor touches the user's Wine setup.
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
    timeout 300 "$wine" "$build/windows_check.exe"
fi
