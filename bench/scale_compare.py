#!/usr/bin/env python3
"""Runs the scaling benchmark and prints, for each job, lumacap's wall time with its helper thread
and on one thread, libswscale's (single-threaded; same run, same machine) and the ratios, with the
process CPU time of each. A ratio below 1 means lumacap is faster.

usage: bench/scale_compare.py [build-dir] [extra benchmark flags...]
"""
import json
import re
import subprocess
import sys

build = sys.argv[1] if len(sys.argv) > 1 else "build"
cmd = [f"{build}/bench/bench_gdiplus_scale_bench", "--benchmark_format=json",
       "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"] + sys.argv[2:]
data = json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)
times = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    family, job = b["run_name"].split("/", 1)
    job = re.sub(r"/(process_time|real_time)", "", job)
    times.setdefault(job, {})[family] = (b["real_time"], b["cpu_time"])
print(f"{'job':24} {'2 threads ms':>12} {'1 thread ms':>12} {'swscale ms':>11} {'ratio 2t':>9}"
      f" {'ratio 1t':>9}   cpu ms (2t / 1t / swscale)")
for job, t in times.items():
    if {"Lumacap", "LumacapOneThread", "Swscale"} <= t.keys():
        two, one, ref = t["Lumacap"], t["LumacapOneThread"], t["Swscale"]
        print(f"{job:24} {two[0]:12.3f} {one[0]:12.3f} {ref[0]:11.3f} {two[0] / ref[0]:9.2f}"
              f" {one[0] / ref[0]:9.2f}   {two[1]:.3f} / {one[1]:.3f} / {ref[1]:.3f}")
