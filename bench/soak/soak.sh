#!/usr/bin/env bash
# Long recordings of a 1280x720, 30 fps camera with sound: an MJPEG AVI (an hour by default) and
# a shorter ASF, each watched from outside (resident memory and open descriptors every few
# seconds) and read back at the end (frames, sound continuity, duration, index) by analyse.py.
#
#   bench/soak/soak.sh [BUILD]      BUILD defaults to build
#   SOAK_AVI_SECONDS (3600), SOAK_ASF_SECONDS (600), SOAK_DIR (a new temporary directory),
#   SOAK_KEEP=1 keeps the recordings (they are removed once read back otherwise),
#   SOAK_RUNS ("avi asf") chooses the runs.
#
# Not part of make bench: it takes over an hour.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/lumacap/lumacap"
avi_seconds=${SOAK_AVI_SECONDS:-3600}
asf_seconds=${SOAK_ASF_SECONDS:-600}
dir=${SOAK_DIR:-$(mktemp -d /tmp/lumacap-soak.XXXXXX)}
mkdir -p "$dir"
[ -x "$tool" ] || { echo "soak: $tool is not built" >&2; exit 2; }

# The camera's format index for MJPEG 1280x720 (the tool lists "index  W x H  subtype").
format=$("$tool" devices | awk '$2 == "1280" && $4 == "720" && $5 == "MJPG" { print $1; exit }')
[ -n "$format" ] || { echo "soak: the camera offers no 1280x720 MJPEG format" >&2; exit 2; }

status=0
run() {  # NAME FILE SECONDS [tool options...]
    local name=$1 file=$2 seconds=$3
    shift 3
    local samples="$dir/$name.samples.csv" log="$dir/$name.log"
    echo "== $name: $seconds s to $file (camera format $format)"
    "$tool" record -o "$file" --seconds "$seconds" --camera "0:$format" --size 1280x720 \
        --fps 30 --audio "$@" >"$log" 2>&1 &
    local pid=$! start
    start=$(date +%s.%N)
    echo "seconds,rss_kib,fds" >"$samples"
    while kill -0 "$pid" 2>/dev/null; do
        local rss fds now
        rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l || true)
        now=$(date +%s.%N)
        [ -n "$rss" ] && awk -v n="$now" -v s="$start" -v r="$rss" -v f="$fds" \
            'BEGIN { printf "%.1f,%s,%s\n", n - s, r, f }' >>"$samples"
        sleep 5
    done
    local rc=0
    wait "$pid" || rc=$?
    tail -n 6 "$log"
    python3 "$here/analyse.py" --file "$file" --samples "$samples" --log "$log" \
        --seconds "$seconds" --fps 30 || rc=1
    [ "$rc" -eq 0 ] || status=1
    [ "${SOAK_KEEP:-0}" = 1 ] || rm -f "$file"
}

for which in ${SOAK_RUNS:-avi asf}; do
    case $which in
    avi) run avi "$dir/soak.avi" "$avi_seconds" --compressor "MJPEG Compressor" ;;
    asf) run asf "$dir/soak.asf" "$asf_seconds" ;;
    *) echo "soak: no run called $which" >&2; exit 2 ;;
    esac
done
echo "soak: results in $dir"
exit "$status"
