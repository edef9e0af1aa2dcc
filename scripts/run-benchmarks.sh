#!/usr/bin/env bash
# Runs every benchmark with the references it is compared against in the same run, and writes
# bench/RESULTS.md (the table of ratios) and bench/scale_job.png. Options after the build directory
# go to bench/results.py (--only NAME,...; SCALE_SECONDS and SCALE_CAMERAS size the scale job).
set -euo pipefail
build=${1:-build}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
# The system's interpreter, which has the plotting package the install script provides.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" "$root/bench/results.py" "$build" "$@"
