#!/usr/bin/env python3
"""Runs the composition benchmark and prints lumacap's time to compose a 1920x1080 frame from two
cameras and two windows, libswscale's time for the same four bicubic scale jobs (same run, same
machine) and their ratio. The goal is a ratio of 0.3 or less.

usage: bench/composition_compare.py [build-dir] [extra benchmark flags...]
"""
import json
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
    times.setdefault(job, {})[family] = b["real_time"]
print(f"{'job':58} {'lumacap ms':>11} {'swscale ms':>11} {'ratio':>7}")
for job, t in times.items():
    if "Lumacap" in t and "Swscale" in t:
        ratio = t["Lumacap"] / t["Swscale"]
        print(f"{job:58} {t['Lumacap']:11.3f} {t['Swscale']:11.3f} {ratio:7.2f}"
              f"  (goal <= 0.3: {'met' if ratio <= 0.3 else 'not met'})")
