#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds the example hosts against the installed
# package twice, once with pkg-config and once with CMake's find_package, as a user would; then
# runs the installed tool, which must find the library wherever the prefix is.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(mktemp -d /tmp/lumacap-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
# The example checks the virtual camera's pictures: keep the machine's own cameras out of its way.
export LUMACAP_V4L2_DIR=
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"

for host in host sdk_spelling long_spelling; do
    echo "== example $host built with pkg-config against $prefix"
    c++ -std=c++20 -Wall -Werror -o "$prefix/example_$host" "$root/examples/$host.cpp" \
        $(pkg-config --cflags --libs lumacap) -Wl,-rpath,"$prefix/lib"
    "$prefix/example_$host"
done

echo "== example hosts built with find_package(lumacap)"
cmake -S "$root/examples" -B "$prefix/example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/example-build" >/dev/null
for host in host sdk_spelling long_spelling; do
    "$prefix/example-build/example_$host" >/dev/null
done

if [ -x "$prefix/bin/lumacap" ]; then
    echo "== the installed tool runs from $prefix"
    "$prefix/bin/lumacap" version
fi
