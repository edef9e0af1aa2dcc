#!/usr/bin/env python3
"""Runs the scaling benchmark and prints, for each job, lumacap's time, libswscale's time (same
run, same machine) and their ratio. A ratio below 1 means lumacap is faster.

usage: bench/scale_compare.py [build-dir] [extra benchmark flags...]
"""
import json
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
    times.setdefault(job, {})[family] = b["real_time"]
print(f"{'job':26} {'lumacap ms':>11} {'swscale ms':>11} {'ratio':>7}")
for job, t in times.items():
    if "Lumacap" in t and "Swscale" in t:
        print(f"{job:26} {t['Lumacap']:11.3f} {t['Swscale']:11.3f} {t['Lumacap'] / t['Swscale']:7.2f}")
