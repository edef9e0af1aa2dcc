#!/usr/bin/env bash
# The main job behind `make run`: shows what the library does on this machine with its tool.
set -euo pipefail
build=${1:-build}
tool="$build/tools/lumacap/lumacap"
out=${LUMACAP_RUN_DIR:-$build/run}
mkdir -p "$out"

echo "== lumacap version"
"$tool" version

echo
echo "== lumacap devices"
"$tool" devices
