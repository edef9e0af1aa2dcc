#!/usr/bin/env python3
"""Runs the composition benchmark and prints, per job, the wall time and the process CPU time of
lumacap's composition with two threads (as a recording runs it) and with one, and of libswscale
doing the same bicubic scale jobs single-threaded (the reference of the goal) and with two slice
threads of its own; then the ratios against libswscale, all from the same run. The goal for the
1920x1080 frame from two cameras and two windows is a wall-time ratio of 0.3 or less against
single-threaded libswscale.

usage: bench/composition_compare.py [build-dir] [extra benchmark flags...]
"""
import json
import re
import subprocess
import sys

build = sys.argv[1] if len(sys.argv) > 1 else "build"
cmd = [f"{build}/bench/bench_composition_bench", "--benchmark_format=json",
       "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"] + sys.argv[2:]
data = json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)
times = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    family, job = b["run_name"].split("/", 1)
    job = re.sub(r"/(process_time|real_time)", "", job)
    times.setdefault(job, {})[family] = (b["real_time"], b["cpu_time"])

families = ["Lumacap", "LumacapOneThread", "Swscale", "SwscaleThreads"]
for job, t in times.items():
    print(job)
    print(f"  {'':18} {'wall ms':>9} {'cpu ms':>9}")
    for f in families:
        if f in t:
            print(f"  {f:18} {t[f][0]:9.3f} {t[f][1]:9.3f}")
    if "Swscale" not in t:
        continue
    ref_wall, ref_cpu = t["Swscale"]
    for f in ("Lumacap", "LumacapOneThread"):
        if f not in t:
            continue
        wall, cpu = t[f]
        line = f"  {f} / Swscale: wall {wall / ref_wall:.2f}, cpu {cpu / ref_cpu:.2f}"
        if "SwscaleThreads" in t:
            line += f"; / SwscaleThreads: wall {wall / t['SwscaleThreads'][0]:.2f}"
        if f == "Lumacap" and "two_cameras_two_windows" in job:
            line += f"  (goal wall <= 0.3: {'met' if wall / ref_wall <= 0.3 else 'not met'})"
        print(line)
