#!/usr/bin/env bash
# Runs every benchmark program, then the scripts that compare our numbers with FFmpeg's tools
# measured in the same run. Pass extra Google Benchmark flags after the build directory.
set -euo pipefail
build=${1:-build}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
for program in "$build"/bench/bench_*; do
    [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program" "$@"
done
for script in "$root"/bench/*.py; do
    [ -f "$script" ] || continue
    echo "== $(basename "$script")"
    python3 "$script" "$build"
done
for script in "$root"/bench/*.sh; do
    [ -f "$script" ] || continue
    echo "== $(basename "$script")"
    bash "$script" "$build"
done
