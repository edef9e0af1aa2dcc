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

# ---- capture: a snapshot and a preview from the default camera --------------------------------
echo
echo "== lumacap snapshot (default camera), with the platform's trace of the graph it builds"
LUMACAP_TRACE=dshow LUMACAP_TRACE_FILE= "$tool" snapshot -o "$out/snapshot.bmp"

echo
echo "== lumacap preview (default camera, self-drawn, with an overlay rectangle)"
"$tool" preview --seconds 3 --mode 2 --rect 40,40,240,180 --shot "$out/preview.bmp"

echo
echo "Capture results:"
echo "  snapshot:      $out/snapshot.bmp"
echo "  preview shot:  $out/preview.bmp"

# ---- recording: the default camera and the screen side by side, with sound ----
# The sound comes from the first microphone: the sound server's default one when a server
# answers (PulseAudio, or PipeWire's PulseAudio service), otherwise the virtual microphone. The
# tool says which ("sound from: ...").
echo
echo "== lumacap record: AVI (default camera and the screen, with sound)"
"$tool" record -o "$out/recording.avi" --seconds 4 --camera 0 --window screen --audio
echo
echo "== lumacap record: ASF (default camera and the screen, with sound)"
"$tool" record -o "$out/recording.asf" --seconds 3 --camera 0 --window screen --audio
