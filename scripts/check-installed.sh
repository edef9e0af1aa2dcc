#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds the example host against the installed
# package twice, once with pkg-config and once with CMake's find_package, as a user would.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(mktemp -d /tmp/lumacap-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
# The example checks the virtual camera's pictures: keep the machine's own cameras out of its way.
export LUMACAP_V4L2_DIR=
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"

echo "== example host built with pkg-config against $prefix"
c++ -std=c++20 -Wall -Werror -o "$prefix/example_host" "$root/examples/host.cpp" \
    $(pkg-config --cflags --libs lumacap) -Wl,-rpath,"$prefix/lib"
"$prefix/example_host"

echo "== example host built with find_package(lumacap)"
cmake -S "$root/examples" -B "$prefix/example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/example-build" >/dev/null
"$prefix/example-build/example_host"
