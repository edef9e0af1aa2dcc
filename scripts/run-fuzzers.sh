#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build (make fuzz) for SECONDS each, two at a time, starting from
# its seeds in fuzz/<target>/corpus and keeping what it finds in BUILD/corpus/<target>. Crashes land
# in BUILD/crashes/<target>; a line per target sums up execs, coverage and crashes.
#   scripts/run-fuzzers.sh [BUILD] [SECONDS] [TARGET...]
set -uo pipefail
build=${1:-build-fuzz}
seconds=${2:-600}
shift 2 || shift $#
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in "$root"/fuzz/*/corpus; do targets+=("$(basename "$(dirname "$dir")")"); done
fi

run_one() {
    local name=$1 program="$build/fuzz/fuzz_$1"
    local corpus="$build/corpus/$name" crashes="$build/crashes/$name" log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$crashes"
    [ -x "$program" ] || { echo "$name: $program is not built"; return 1; }
    "$program" "$corpus" "$root/fuzz/$name/corpus" -max_total_time="$seconds" -timeout=30 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1
    local rc=$?
    local execs cov
    execs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "$name: rc $rc, ${execs:-?} execs, ${cov:-cov: ?}, $(ls "$crashes" | wc -l) crash file(s)," \
         "corpus $(ls "$corpus" | wc -l) inputs (log $log)"
    return $rc
}

status=0
pids=()
for name in "${targets[@]}"; do
    run_one "$name" &
    pids+=($!)
    if [ ${#pids[@]} -eq 2 ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[1]}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
