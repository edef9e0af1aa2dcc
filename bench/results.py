#!/usr/bin/env python3
"""Runs every benchmark and writes bench/RESULTS.md: one table of each measurement's ratio
against the reference measured beside it in the same run, with the machine, the date, the load
average when each program started and the command reproducing each line, plus the scale job's
plot (bench/scale_job.png). What each program prints goes to stdout as it runs.

usage: bench/results.py [build-dir] [--only NAME,...] [--out FILE]
   Environment: SCALE_SECONDS, SCALE_CAMERAS (the scale job; default here 10 s and 1,2,4,6,8),
   RECORDING_SECONDS (the single-camera recording, default 20).
"""
import argparse
import datetime
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

# Goals, by program and by the benchmark's name within it (a regular expression); "≤ x" goals are
# checked, other notes are shown as they are.
GOALS = {
    "capture_path_bench": [(r"^CapturePath/", 1.05)],
    "graph_convert_bench": [(r".", 1.1)],
    "v4l2_capture_bench": [(r".", 1.1)],
    "composition_bench": [(r"two_cameras_two_windows", 0.3), (r".", 1.0)],
    "gdiplus_scale_bench": [(r".", 1.0)],
    "x11_display_bench": [(r"^RootCapture", 1.0), (r"^Preview", 1.3)],
    "avi_record_bench": [(r".", 1.0)],
    "microphone_bench": [(r".", 1.5)],
    "scale_job": [(r".", 0.5)],
}
# Programs with a main of their own, or whose ratios need pairing; the rest are Google Benchmark
# programs reporting a "ratio" counter.
PAIRED = {"composition_bench", "gdiplus_scale_bench"}
OWN_MAIN = {"recording_bench", "microphone_bench", "scale_job_bench",
            "recording_allocation_bench"}


def goal_for(program, name):
    for pattern, goal in GOALS.get(program, []):
        if re.search(pattern, name):
            return goal
    return None


def rel(path):
    return os.path.relpath(path, ROOT) if os.path.isabs(path) else path


def run(argv, rows_out, program):
    """Runs argv, echoing its output; answers its stdout, or None when it failed."""
    shown = [rel(a) for a in argv if not a.startswith("--benchmark_out")]
    print(f"== {' '.join(shown)}  (load {os.getloadavg()[0]:.2f})", flush=True)
    proc = subprocess.run(argv, capture_output=True, text=True)
    sys.stdout.write(proc.stdout)
    sys.stderr.write(proc.stderr[-2000:])
    if proc.returncode != 0:
        rows_out.append({"program": program, "name": "(did not run)", "ratio": None,
                         "note": (proc.stderr.strip().splitlines() or ["exit status " +
                                                                       str(proc.returncode)])[-1],
                         "command": " ".join(shown), "load": None})
        return None
    return proc.stdout


def google_benchmark(build, program, rows):
    exe = os.path.join(build, "bench", "bench_" + program)
    load = os.getloadavg()[0]
    extra = (["--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"]
             if program in PAIRED else [])
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        out = run([exe, "--benchmark_out=" + report.name, "--benchmark_out_format=json"] + extra,
                  rows, program)
        if out is None:
            return
        try:
            data = json.load(open(report.name))
        except ValueError:
            rows.append({"program": program, "name": "(no report)", "ratio": None, "note": "",
                         "command": rel(exe), "load": load})
            return
    if program in PAIRED:
        # Wall and process CPU per job and family; our scaler once with its helper thread (as a
        # recording runs) and once alone, both against libswscale's single-threaded jobs.
        times = {}
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            family, job = b["run_name"].split("/", 1)
            job = re.sub(r"/(process_time|real_time|manual_time)", "", job)
            times.setdefault(job, {})[family] = (b["real_time"], b["cpu_time"])
        for job, t in times.items():
            if "Swscale" not in t:
                continue
            ref_wall, ref_cpu = t["Swscale"]
            for family, label in (("Lumacap", "two threads"), ("LumacapOneThread", "one thread")):
                if family not in t:
                    continue
                wall, cpu = t[family]
                rows.append({
                    "program": program, "name": f"{job} ({label})", "ratio": wall / ref_wall,
                    "reference": "libswscale, same jobs (median of 5, wall time)",
                    "note": f"{wall:.2f} vs {ref_wall:.2f} ms; CPU {cpu / ref_cpu:.2f}×",
                    "load": load,
                    "command": f"{rel(exe)} --benchmark_filter='^{family}/{job}/' "
                               "--benchmark_repetitions=5"})
        return
    for b in data["benchmarks"]:
        if "ratio" not in b:
            continue
        # The family and arguments, without the settings Google Benchmark appends.
        name = re.sub(r"/(iterations:\d+|manual_time|real_time)", "", b["run_name"])
        details = ", ".join(f"{k} {b[k]:.3g}" for k in sorted(b)
                            if isinstance(b[k], (int, float)) and k.endswith(("_us", "_ms",
                                                                              "_per_s", "_ns",
                                                                              "_per_frame")))
        rows.append({"program": program, "name": name, "ratio": b["ratio"],
                     "reference": "measured beside it (see the program's header)",
                     "note": details, "load": load,
                     "command": f"{rel(exe)} --benchmark_filter='^{name}(/|$)'"})


def recording(build, rows):
    seconds = os.environ.get("RECORDING_SECONDS", "20")
    exe = os.path.join(build, "bench", "bench_recording_bench")
    load = os.getloadavg()[0]
    out = run([exe, "--seconds", seconds], rows, "recording_bench")
    if out is None:
        return
    m = re.search(r"ratio \(recording / ffmpeg\): ([0-9.]+)", out)
    late = re.search(r"(\d+) frames composed, (\d+) late", out)
    rows.append({"program": "recording_bench", "name": "720p30 MJPEG recording of one camera",
                 "ratio": float(m.group(1)) if m else None,
                 "reference": "ffmpeg encoding the same frames",
                 "note": f"{late.group(1)} composed, {late.group(2)} late" if late else "",
                 "load": load, "command": f"{rel(exe)} --seconds {seconds}"})


def recording_allocations(build, rows):
    exe = os.path.join(build, "bench", "bench_recording_allocation_bench")
    load = os.getloadavg()[0]
    out = run([exe], rows, "recording_allocation_bench")
    m = re.search(r"per composed frame: ([0-9.]+) in all", out or "")
    if m:
        # A count with no reference: shown for the record, outside the ratios.
        rows.append({"program": "recording_allocation_bench",
                     "name": "heap allocations per composed frame (count, not a ratio)",
                     "ratio": None, "reference": "goal 0", "note": m.group(1), "load": load,
                     "command": rel(exe)})


def microphone(build, rows):
    exe = os.path.join(build, "bench", "bench_microphone_bench")
    load = os.getloadavg()[0]
    out = run([exe, "--trials", "3", "--seconds", "4"], rows, "microphone_bench")
    if out is None:
        return
    for m in re.finditer(r"(\d+) Hz x (\d): ours ([0-9.]+) ms/s, parec ([0-9.]+) ms/s, "
                         r"ratio ([0-9.]+)", out):
        rows.append({"program": "microphone_bench", "name": f"{m.group(1)} Hz x {m.group(2)}",
                     "ratio": float(m.group(5)), "reference": "parec on the same source",
                     "note": f"{m.group(3)} vs {m.group(4)} ms/s", "load": load,
                     "command": f"{rel(exe)} --trials 3 --seconds 4"})


def scale(build, rows, plot_path):
    import scale_job
    seconds = os.environ.get("SCALE_SECONDS", "10")
    cameras = os.environ.get("SCALE_CAMERAS", "1,2,4,6,8")
    with tempfile.TemporaryDirectory() as tmp:
        json_path = os.path.join(tmp, "scale.json")
        argv = [sys.executable, os.path.join(HERE, "scale_job.py"), build, "--seconds", seconds,
                "--cameras", cameras, "--json", json_path, "--plot", plot_path]
        print(f"== {' '.join(rel(a) for a in argv[1:])}", flush=True)
        if subprocess.run(argv).returncode != 0:
            rows.append({"program": "scale_job", "name": "(did not run)", "ratio": None,
                         "note": "see the output above", "command": "", "load": None})
            return None
        with open(json_path) as f:
            results = json.load(f)
    for n, run_ in results["runs"].items():
        ours = run_["lumacap"]
        command = f"bench/scale_job.py {build} --seconds {seconds} --cameras {n}"
        for ref in ("ffmpeg", "gstreamer"):
            other = run_[ref]
            if "error" in ours or "error" in other:
                rows.append({"program": "scale_job", "name": f"N={n} vs {ref}", "ratio": None,
                             "note": (ours.get("error") or other.get("error"))[:120],
                             "command": command, "load": ours.get("load")})
                continue
            # The goal holds only for a recording that kept up: one that composed fewer frames
            # spent less per recorded second for doing less.
            ratio = ours["cpu_per_s"] / other["cpu_per_s"]
            if not scale_job.keeps_up(ours) or ours["late"] > 0:
                verdict = "**not met** (lumacap fell behind)"
            elif not scale_job.keeps_up(other):
                verdict = f"— ({ref} fell behind)"
            else:
                verdict = "met" if ratio <= 0.5 else "**not met**"
            rows.append({
                "program": "scale_job", "name": f"N={n} cameras + screen, CPU per recorded s",
                "ratio": ratio, "verdict": "≤ 0.5: " + verdict,
                "reference": f"{ref}, same job and files",
                "note": f"{ours['cpu_per_s']:.2f} vs {other['cpu_per_s']:.2f} CPU s/s, per frame "
                        f"{ours['cpu_ms_per_frame'] / other['cpu_ms_per_frame']:.2f}×, "
                        + (f"projected at 30 fps "
                           f"{ours['projected_cpu_per_s'] / other['cpu_per_s']:.2f}×"
                           if ours.get("projected_cpu_per_s") else "no projection") +
                        f"; made/due "
                        f"{ours['produced_share']:.2f} ({ours['late']} late) vs "
                        f"{other['produced_share']:.2f}"
                        + ("" if scale_job.keeps_up(other) else f"; {ref} fell behind"),
                "load": ours["load"], "command": command})
    return results


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        with open("/proc/meminfo") as f:
            mem = int(f.readline().split()[1]) / 1024 / 1024
    except (OSError, ValueError, IndexError):
        mem = 0
    return (f"{model}, {os.cpu_count()} logical CPUs, {mem:.1f} GiB, "
            f"{platform.system()} {platform.release()}")


def tool_versions():
    versions = []
    for argv in (["ffmpeg", "-version"], ["gst-launch-1.0", "--version"]):
        try:
            out = subprocess.run(argv, capture_output=True, text=True).stdout.splitlines()
            versions.append(out[1] if argv[0].startswith("gst") else " ".join(out[0].split()[:3]))
        except (OSError, IndexError):
            pass
    return "; ".join(versions)


def write(path, rows, scale_results, started, load_start, plot_name, reruns):
    lines = ["# Benchmark results", "",
             f"Written by `make bench` (bench/results.py) on {started:%Y-%m-%d %H:%M} UTC.", "",
             f"- Machine: {machine()}",
             f"- References: {tool_versions()}",
             f"- Load average (1, 5, 15 min) at the start: "
             f"{', '.join(f'{x:.2f}' for x in load_start)}; at the end: "
             f"{', '.join(f'{x:.2f}' for x in os.getloadavg())}"]
    lines += [f"- Rerun alone on {r}" for r in reruns]
    lines += ["",
             "Every ratio is lumacap's cost divided by the reference's, both measured in the same "
             "run on this machine (CPU time unless the reference column says otherwise); below 1 "
             "lumacap is cheaper. The machine may be shared: the load column is the 1-minute "
             "load average when the program started. Commands run from the source tree.", "",
             "| Benchmark | Measurement | Ratio | Goal | Reference | Detail | Load | Command |",
             "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        goal = goal_for(r["program"], r["name"])
        ratio = "—" if r["ratio"] is None else f"{r['ratio']:.2f}"
        if r.get("verdict"):
            goal_text = r["verdict"]
        elif goal is None or r["ratio"] is None:
            goal_text = "—"
        else:
            goal_text = f"≤ {goal:g} " + ("met" if 0 <= r["ratio"] <= goal else "**not met**")
        load = "—" if r.get("load") is None else f"{r['load']:.1f}"
        cells = [r["program"], r["name"], ratio, goal_text, r.get("reference", ""),
                 r.get("note", ""), load, f"`{r['command']}`" if r.get("command") else ""]
        lines.append("| " + " | ".join(c.replace("|", "\\|") for c in cells) + " |")
    if scale_results:
        lines += ["", "## The scale job", "",
                  f"N cameras (1280x720, 30 fps, MJPEG replayed from the same JPEG files) plus the "
                  f"screen, composed into 1920x1080 at 30 fps and recorded to MJPEG AVI for "
                  f"{scale_results['seconds']:g} s. made/due: frames produced ÷ frames due in the "
                  f"wall time taken (lumacap counts its composed frames; ffmpeg and GStreamer "
                  f"must finish the job in real time). CPU of ffmpeg and GStreamer is their whole "
                  f"process; lumacap's is its process while recording (cameras included). "
                  f"Allocations: lumacap's heap allocations (malloc-family calls) per recorded "
                  f"frame after the first second, on the recording's streaming thread (composing, "
                  f"compressing, writing) and in the whole process (cameras included). Projected: lumacap's "
                  f"cameras alone (measured before recording) plus, at 30 fps, what each "
                  f"composed frame cost beyond them; it stands for the job when lumacap fell "
                  f"behind, since its cameras go on decoding every frame while fewer are "
                  f"composed.", "",
                  f"![CPU per recorded second against N]({plot_name})", "",
                  "| N | System | made/due | Late | CPU s per recorded s | projected at 30 fps | "
                  "CPU ms per frame | Peak RSS MiB | kB per frame | Allocations per frame: "
                  "streaming thread / process | Load |",
                  "|---|---|---|---|---|---|---|---|---|---|---|"]
        for n, run_ in scale_results["runs"].items():
            for system, r in run_.items():
                if "error" in r:
                    lines.append(f"| {n} | {system} | failed: {r['error'][:80]} "
                                 "| | | | | | | | |")
                    continue
                allocations = None
                if r.get("allocations_per_frame") is not None:
                    allocations = (f"{r.get('streaming_allocations_per_frame', -1):.1f} / "
                                   f"{r['allocations_per_frame']:.1f}")
                projected = r.get("projected_cpu_per_s")
                lines.append(
                    f"| {n} | {system} | {r['produced_share']:.3f} | {r.get('late', '—')} | "
                    f"{r['cpu_per_s']:.3f} | "
                    f"{'—' if projected is None else f'{projected:.3f}'} | "
                    f"{r['cpu_ms_per_frame']:.1f} | "
                    f"{r['peak_rss_mib']:.0f} | {r['bytes_per_frame'] / 1e3:.1f} | "
                    f"{allocations or '—'} | {r['load']:.1f} |")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--only", help="comma-separated program names (e.g. scale_job)")
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    args = parser.parse_args()
    build = os.path.relpath(os.path.abspath(args.build), ROOT)
    os.chdir(ROOT)
    only = set(args.only.split(",")) if args.only else None
    started = datetime.datetime.now(datetime.timezone.utc)
    load_start = os.getloadavg()
    rows = []
    programs = sorted(f[len("bench_"):] for f in os.listdir(os.path.join(build, "bench"))
                      if f.startswith("bench_") and os.access(os.path.join(build, "bench", f),
                                                              os.X_OK))
    for program in programs:
        if (only and program not in only) or program in OWN_MAIN:
            continue
        google_benchmark(build, program, rows)
    if not only or "recording_bench" in only:
        recording(build, rows)
    if not only or "recording_allocation_bench" in only:
        recording_allocations(build, rows)
    if not only or "microphone_bench" in only:
        microphone(build, rows)
    scale_results = None
    plot_name = "scale_job.png"
    if not only or "scale_job" in only:
        scale_results = scale(build, rows, os.path.join(os.path.dirname(args.out), plot_name))
    # The lines of a partial run replace their own; the others stay as the last run left them
    # (kept beside the table as data).
    data_path = os.path.splitext(args.out)[0] + ".json"
    reruns = []
    if only and os.path.exists(data_path):
        with open(data_path) as f:
            previous = json.load(f)
        rerun = {r["program"] for r in rows} | only
        rows = [r for r in previous["rows"] if r["program"] not in rerun] + rows
        if scale_results is None:
            scale_results = previous.get("scale")
        reruns = previous.get("reruns", []) + [f"{started:%Y-%m-%d %H:%M} UTC: "
                                               f"{', '.join(sorted(only))}"]
        started = datetime.datetime.fromisoformat(previous["started"])
        load_start = previous["load_start"]
    with open(data_path, "w") as f:
        json.dump({"started": started.isoformat(), "load_start": list(load_start),
                   "reruns": reruns, "rows": rows, "scale": scale_results}, f, indent=1)
    write(args.out, rows, scale_results, started, load_start, plot_name, reruns)
    print(f"wrote {rel(os.path.abspath(args.out))}")


if __name__ == "__main__":
    main()
