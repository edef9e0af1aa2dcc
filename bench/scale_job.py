#!/usr/bin/env python3
"""The scale job: N cameras (1280x720, 30 fps, MJPEG) plus the screen, composed side by side into
1920x1080 at 30 fps and recorded to MJPEG AVI, done by lumacap, by ffmpeg and by GStreamer in the
same run from the same input files, for each N. Reports, per system and N: frames produced ÷ frames
due, late frames (lumacap), CPU seconds per recorded second, CPU ms per frame, peak resident
memory, bytes per frame written, and the 1-minute load average when the run started; writes them
as JSON and plots CPU per recorded second against N.

The inputs are written once: 30 JPEG pictures (ffmpeg's testsrc2, 4:2:2, quantiser 3, as a webcam
sends them), an AVI holding those same pictures in turn for the job's length (what ffmpeg and
GStreamer read; lumacap's virtual cameras replay the JPEG files), and the lumacap screen as raw
BGRA (lumacap captures the screen; the others read that picture from a file each frame).

usage: bench/scale_job.py [build-dir] [--seconds S] [--cameras 1,2,4,6,8] [--json FILE]
                          [--plot FILE] [--work DIR]
   (SCALE_SECONDS and SCALE_CAMERAS in the environment set the defaults, 30 s and 1,2,4,6,8)
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

OUT_W, OUT_H, FPS = 1920, 1080, 30
# MJPEG quality: ffmpeg and lumacap's compressor use quantiser 3; jpegenc's quality 75 (libjpeg's
# default) writes frames of about the same size (bytes per frame are reported beside the CPU).
QSCALE, JPEG_QUALITY = 3, 75


def cells(sources):
    """Cells of the output's shape, as many across as down; the screen first, then the cameras."""
    across = math.ceil(math.sqrt(sources))
    w, h = OUT_W // across, OUT_H // across
    return [((i % across) * w, (i // across) * h, w, h) for i in range(sources)]


def run_child(argv):
    """Runs argv and answers (status, wall s, CPU s, peak RSS MiB, stdout, stderr)."""
    start = time.monotonic()
    out_file = tempfile.TemporaryFile(mode="w+")
    err_file = tempfile.TemporaryFile(mode="w+")
    proc = subprocess.Popen(argv, stdout=out_file, stderr=err_file)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    out_file.seek(0)
    err_file.seek(0)
    return (proc.returncode, wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0,
            out_file.read(), err_file.read())


def frames_in(path):
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0",
                              "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path],
                             capture_output=True, text=True, check=True).stdout
        return int(out.strip().split(",")[0])
    except (subprocess.CalledProcessError, ValueError, IndexError):
        return 0


def prepare_inputs(build, work, seconds):
    frames = os.path.join(work, "frames")
    os.makedirs(frames, exist_ok=True)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc2=size=1280x720:rate={FPS}", "-frames:v", "30", "-c:v", "mjpeg",
                    "-q:v", str(QSCALE), "-pix_fmt", "yuvj422p", "-start_number", "0",
                    os.path.join(frames, "%03d.jpg")], check=True)
    # The same pictures, copied without re-encoding, in turn for the whole job (and a second more).
    cams = os.path.join(work, "cameras.avi")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-stream_loop", "-1", "-framerate", str(FPS),
                    "-start_number", "0", "-i", os.path.join(frames, "%03d.jpg"), "-frames:v",
                    str(round((seconds + 1) * FPS)), "-c", "copy", "-f", "avi", cams], check=True)
    screen = os.path.join(work, "screen.bgra")
    subprocess.run([os.path.join(build, "bench", "bench_scale_job_bench"), "--write-screen",
                    screen], check=True)
    return frames, cams, screen


def ffmpeg_argv(n, seconds, cams, screen, out):
    argv = ["ffmpeg", "-nostdin", "-v", "error", "-y"]
    for _ in range(n):
        argv += ["-re", "-stream_loop", "-1", "-i", cams]
    argv += ["-re", "-f", "rawvideo", "-pix_fmt", "bgra", "-s", f"{OUT_W}x{OUT_H}", "-framerate",
             str(FPS), "-stream_loop", "-1", "-i", screen]
    layout = cells(n + 1)
    chains = [f"[{n}:v]scale={layout[0][2]}:{layout[0][3]}:flags=bicubic,format=yuvj422p[s]"]
    for i in range(n):
        x, y, w, h = layout[i + 1]
        chains.append(f"[{i}:v]scale={w}:{h}:flags=bicubic[c{i}]")
    inputs = "[s]" + "".join(f"[c{i}]" for i in range(n))
    positions = "|".join(f"{x}_{y}" for x, y, _, _ in layout)
    stack = f"{inputs}xstack=inputs={n + 1}:layout={positions}"
    right = max(x + w for x, _, w, _ in layout)
    bottom = max(y + h for _, y, _, h in layout)
    if right < OUT_W or bottom < OUT_H:
        stack += f",pad={OUT_W}:{OUT_H}:0:0:black"
    chains.append(stack + ",format=yuvj420p[out]")
    argv += ["-filter_complex", ";".join(chains), "-map", "[out]", "-t", str(seconds), "-c:v",
             "mjpeg", "-q:v", str(QSCALE), "-f", "avi", out]
    return argv


def gstreamer_argv(n, seconds, cams, screen, out):
    layout = cells(n + 1)
    frames = round(seconds * FPS)
    argv = ["gst-launch-1.0", "-q", "compositor", "name=mix", "background=black"]
    for i, (x, y, _, _) in enumerate(layout):
        argv += [f"sink_{i}::xpos={x}", f"sink_{i}::ypos={y}"]
    argv += ["!", f"video/x-raw,width={OUT_W},height={OUT_H},framerate={FPS}/1,format=I420", "!",
             "jpegenc", f"quality={JPEG_QUALITY}", "!", "avimux", "!", "filesink",
             f"location={out}", "sync=true"]
    _, _, w, h = layout[0]
    argv += ["multifilesrc", f"location={screen}", "loop=true", f"num-buffers={frames}", "!",
             "rawvideoparse", "format=bgrx", f"width={OUT_W}", f"height={OUT_H}",
             f"framerate={FPS}/1", "!", "videoscale", "method=catrom", "!",
             f"video/x-raw,width={w},height={h}", "!", "mix.sink_0"]
    for i in range(n):
        _, _, w, h = layout[i + 1]
        # identity stops each camera after the job's frames, so all inputs end together.
        argv += ["filesrc", f"location={cams}", "!", "avidemux", "!", "identity",
                 f"eos-after={frames}", "!", "jpegdec", "!", "videoscale", "method=catrom", "!",
                 f"video/x-raw,width={w},height={h}", "!", f"mix.sink_{i + 1}"]
    return argv


def load_average():
    return os.getloadavg()[0]


def measure_lumacap(build, n, seconds, frames, out):
    load = load_average()
    status, wall, _, rss, stdout, stderr = run_child(
        [os.path.join(build, "bench", "bench_scale_job_bench"), "--frames", frames, "--cameras",
         str(n), "--seconds", str(seconds), "--output", out])
    if status != 0:
        return {"error": stderr.strip()[-300:], "load": load}
    r = json.loads(stdout.strip().splitlines()[-1])
    # A recording that falls behind composes fewer frames while its cameras go on decoding (as
    # many frames as they get the CPU for), so its CPU per recorded second understates the job.
    # Projected: each camera frame's cost (measured per frame delivered, before recording) and
    # each composed frame's cost beyond the cameras', both at the full frame rate.
    camera_ms = r["camera_ms_per_frame"]
    composed_ms = ((r["cpu_per_s"] * r["seconds"] * 1e3 - camera_ms * r["camera_frames"]) /
                   max(r["composed"], 1))
    # Under heavy load the cameras' cost before recording can exceed what they cost while it ran,
    # leaving nothing for the composed frames: no projection then.
    projected = (camera_ms * n + composed_ms) * FPS / 1e3 if composed_ms > 0 else None
    return {"projected_cpu_per_s": projected,
            "composed_ms_per_frame": composed_ms,"produced_share": r["composed"] / max(r["due"], 1), "late": r["late"],
            "frames": r["composed"], "due": r["due"], "cpu_per_s": r["cpu_per_s"],
            "cpu_ms_per_frame": r["cpu_per_s"] * r["seconds"] / max(r["composed"], 1) * 1e3,
            "peak_rss_mib": r["peak_rss_mib"], "bytes_per_frame": r["bytes_per_frame"],
            "allocations_per_frame": r["allocations_per_frame"],
            "streaming_allocations_per_frame": r.get("streaming_allocations_per_frame", -1),
            "encoder_allocations_per_frame": r.get("encoder_allocations_per_frame", -1),
            "camera_allocations_per_s": r["camera_allocations_per_s"],
            "camera_cpu_per_s": r["camera_cpu_per_s"], "camera_ms_per_frame": camera_ms,
            "load": load}


def measure_tool(argv, out):
    load = load_average()
    status, wall, cpu, rss, _, stderr = run_child(argv)
    frames = frames_in(out) if status == 0 else 0
    if status != 0 or frames == 0:
        return {"error": stderr.strip()[-300:] or f"exit status {status}", "load": load}
    recorded = frames / FPS
    return {"produced_share": min(1.0, recorded / wall), "frames": frames,
            "due": round(wall * FPS), "cpu_per_s": cpu / recorded,
            "cpu_ms_per_frame": cpu / frames * 1e3, "peak_rss_mib": rss,
            "bytes_per_frame": os.path.getsize(out) / frames, "wall_s": wall, "load": load}


def keeps_up(r):
    # A tool that needs more wall time than it records (its start-up included) falls behind;
    # lumacap must compose every frame due.
    return "error" not in r and r["produced_share"] >= 0.98


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, 2, figsize=(12, 4.5))
    panels = (("cpu_per_s", "CPU seconds per recorded second"),
              ("cpu_ms_per_frame", "CPU ms per frame produced"))
    for ax, (key, label) in zip(axes, panels):
        for system, style in (("lumacap", "o-"), ("ffmpeg", "s--"), ("gstreamer", "^:")):
            points = [(int(n), r[system]) for n, r in results["runs"].items()
                      if "error" not in r[system]]
            if not points:
                continue
            ax.plot([n for n, _ in points], [r[key] for _, r in points], style, label=system)
            behind = [(n, r[key]) for n, r in points if not keeps_up(r)]
            if behind:
                ax.plot([n for n, _ in behind], [y for _, y in behind], "x", color="red",
                        markersize=10)
        if key == "cpu_per_s":
            points = [(int(n), r["lumacap"]["projected_cpu_per_s"])
                      for n, r in results["runs"].items()
                      if "error" not in r["lumacap"] and r["lumacap"]["projected_cpu_per_s"]]
            if points:
                ax.plot([n for n, _ in points], [y for _, y in points], "o", color="C0",
                        fillstyle="none", linestyle=(0, (1, 3)),
                        label="lumacap projected at the full rate")
        ax.set_xticks(sorted(int(n) for n in results["runs"]))
        ax.set_xlabel("cameras (1280x720, 30 fps MJPEG) + the screen")
        ax.set_ylabel(label)
        ax.grid(True, alpha=0.3)
    axes[0].axhline(os.cpu_count() or 2, color="grey", linewidth=0.8)
    axes[0].plot([], [], "x", color="red", label="fell behind (made < 98% of due)")
    axes[0].legend()
    fig.suptitle(f"Composed 1920x1080 at 30 fps to MJPEG AVI, {results['seconds']:g} s per run, "
                 f"{os.cpu_count()} cores, load {results.get('load', 0):.1f} at the start")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--seconds", type=float,
                        default=float(os.environ.get("SCALE_SECONDS", "30")))
    parser.add_argument("--cameras", default=os.environ.get("SCALE_CAMERAS", "1,2,4,6,8"))
    parser.add_argument("--json")
    parser.add_argument("--plot")
    parser.add_argument("--work")
    args = parser.parse_args()
    ns = [int(n) for n in args.cameras.split(",") if n.strip()]
    if not ns or min(ns) < 1 or args.seconds < 2:
        parser.error("--cameras takes numbers from 1, --seconds at least 2")
    for tool in ("ffmpeg", "ffprobe", "gst-launch-1.0"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed (scripts/install-deps.sh installs it)")
    work = args.work or tempfile.mkdtemp(prefix="lumacap-scale-")
    os.makedirs(work, exist_ok=True)
    frames, cams, screen = prepare_inputs(args.build, work, args.seconds)
    results = {"seconds": args.seconds, "load": load_average(), "runs": {}}
    print(f"{'N':>2} {'system':10} {'made/due':>8} {'late':>5} {'CPU s/s':>8} {'ms/frame':>8} "
          f"{'RSS MiB':>8} {'kB/frame':>8} {'load':>5}", flush=True)
    for n in ns:
        out = os.path.join(work, f"out-{n}")
        run = {
            "lumacap": measure_lumacap(args.build, n, args.seconds, frames, out + "-lumacap.avi"),
            "ffmpeg": measure_tool(
                ffmpeg_argv(n, args.seconds, cams, screen, out + "-ffmpeg.avi"),
                out + "-ffmpeg.avi"),
            "gstreamer": measure_tool(
                gstreamer_argv(n, args.seconds, cams, screen, out + "-gstreamer.avi"),
                out + "-gstreamer.avi"),
        }
        for system, r in run.items():
            if "error" in r:
                print(f"{n:2} {system:10} failed: {r['error']}", flush=True)
                continue
            late = str(r["late"]) if "late" in r else "-"
            print(f"{n:2} {system:10} {r['produced_share']:8.3f} {late:>5} {r['cpu_per_s']:8.3f} "
                  f"{r['cpu_ms_per_frame']:8.1f} {r['peak_rss_mib']:8.1f} "
                  f"{r['bytes_per_frame'] / 1e3:8.1f} {r['load']:5.2f}", flush=True)
        if "error" not in run["lumacap"]:
            r = run["lumacap"]
            print(f"{n:2} lumacap {r['camera_ms_per_frame']:.1f} ms per camera frame; "
                  f"{r['composed_ms_per_frame']:.1f} ms more per composed frame; projected at "
                  f"{FPS} fps: " + (f"{r['projected_cpu_per_s']:.3f} CPU s/s"
                                    if r['projected_cpu_per_s'] else "none"), flush=True)
        if "error" not in run["lumacap"] and run["lumacap"]["allocations_per_frame"] >= 0:
            print(f"{n:2} lumacap heap allocations per recorded frame after the first second: "
                  f"{run['lumacap']['streaming_allocations_per_frame']:.1f} on the recording's "
                  f"streaming thread, "
                  f"{run['lumacap']['encoder_allocations_per_frame']:.1f} on the compressor's, "
                  f"{run['lumacap']['allocations_per_frame']:.1f} in the "
                  f"process (the cameras alone: "
                  f"{run['lumacap']['camera_allocations_per_s'] / FPS:.1f} per frame time)",
                  flush=True)
        for f in os.listdir(work):
            if f.startswith(f"out-{n}-"):
                os.remove(os.path.join(work, f))
        results["runs"][str(n)] = run
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    if args.plot:
        plot(results, args.plot)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
