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
"$tool" devices | tee "$out/devices.txt"

# Camera 0 is the machine's first real (V4L2) camera when it has one; the virtual camera otherwise.
camera=$(sed -n 's/^  \[0\] //p' "$out/devices.txt" | head -n1)
where=$(sed -n '/^  \[0\] /,/^$/s/^      device: //p' "$out/devices.txt" | head -n1)
echo
if [[ "$where" == *"V4L2 camera"* ]]; then
    echo "Capturing from the real camera: $camera ($where)"
else
    echo "No real camera on this machine: capturing from the virtual camera ($camera)"
fi

echo
echo "== lumacap windows (the display in use and the windows on it)"
"$tool" windows

# ---- capture: a snapshot and a preview from the default camera --------------------------------
echo
echo "== lumacap snapshot (camera 0), with the platform's trace of the graph it builds"
LUMACAP_TRACE=dshow LUMACAP_TRACE_FILE= "$tool" snapshot -o "$out/snapshot.bmp"

echo
echo "== lumacap preview (camera 0, self-drawn, with an overlay rectangle)"
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
echo "== lumacap record: AVI (camera 0 and the screen, with sound)"
"$tool" record -o "$out/recording.avi" --seconds 4 --camera 0 --window screen --audio
echo
echo "== lumacap record: ASF (camera 0 and the screen, with sound)"
"$tool" record -o "$out/recording.asf" --seconds 3 --camera 0 --window screen --audio

# ---- a V4L2 camera without hardware: fakecam serves one through FUSE --------------------------
fakecam="$build/tools/fakecam/fakecam"
if [ -x "$fakecam" ] && [ -w /dev/fuse ]; then
    echo
    echo "== fakecam: a camera double served as V4L2 device nodes, captured through the kernel"
    served=$(mktemp -d /tmp/lumacap-fakecam-XXXXXX)
    coproc FAKECAM { exec "$fakecam" --card "fakecam webcam" --format MJPG:1280x720@30 \
        --format YUYV:640x480,320x240@30,15 "$served"; }
    fakecam_pid=$FAKECAM_PID
    trap 'kill "$fakecam_pid" 2>/dev/null || true' EXIT
    read -r ready <&"${FAKECAM[0]}" || ready=""
    if [[ "$ready" == ready* ]]; then
        export LUMACAP_V4L2_DIR="$served/dev" LUMACAP_V4L2_SYSFS="$served/sys"
        "$tool" devices | sed -n '1,/^  \[1\]/p' | sed '$d'
        "$tool" snapshot -f 0 -o "$out/fakecam-snapshot.bmp"
        "$tool" preview --seconds 2 --mode 1 -f 1
        echo "  fakecam snapshot: $out/fakecam-snapshot.bmp"
        echo quit >&"${FAKECAM[1]}"
    else
        echo "fakecam could not serve its camera here; skipped"
    fi
    wait "$fakecam_pid" 2>/dev/null || true
    trap - EXIT
    rm -rf "$served"
fi
