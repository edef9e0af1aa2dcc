#!/usr/bin/env bash
# The main job behind `make run`: shows what the library can do on this machine with the tool.
set -euo pipefail
build=${1:-build}
tool="$build/tools/lumacap/lumacap"
"$tool" version
