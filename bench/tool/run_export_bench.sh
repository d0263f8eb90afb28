#!/usr/bin/env bash
# run_export_bench.sh BUILD_DIR [MEGABYTES]: times "mvt-trace otf2" and
# "mvt-trace sqlite" against "mvt-trace analyze" on generated traces of about
# MEGABYTES (default 1000), in the two shapes of run_analyze_bench.sh:
#   flow    a flow graph of 1000 nodes declared once, then only executions:
#           the most executions per byte, the hard case for an export;
#   openmp  every task a node of its own, with a code address and
#           dependences on its neighbours.
# The three commands take turns, five times each; the best wall time of each
# counts, and its CPU time (user + system) is printed beside it, as it varies
# less when other work shares the machine. Peak memory is each command's own
# (mvt_trace_peak_memory). The ratios are the export's time over analyze's.
# Then the same on a flow trace a quarter the size with the same graph: what
# an export adds to analyze's memory follows the executions, not the bytes.
set -euo pipefail
build=${1:?usage: run_export_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-1000}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
peak=$(find_tool "$build" mvt_trace_peak_memory)
use_scratch mvt_export_bench

echo "| trace | MB | executions | analyze s (cpu) MiB | otf2 s (cpu) MiB | ratio | sqlite s (cpu) MiB | ratio | archive, database MB |"
echo "|---|---|---|---|---|---|---|---|---|"

measure() {
  python3 - "$tool" "$work" "$1" "$peak" <<'PY'
import os, shutil, subprocess, sys, time
tool, work, label, wrapper = sys.argv[1:5]
trace = os.path.join(work, "trace")
usage_file = os.path.join(work, "usage")
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))
outputs = {"analyze": os.path.join(work, "analysis.txt"), "otf2": os.path.join(work, "archive"),
           "sqlite": os.path.join(work, "run.db")}

def run(command):
    out = outputs[command]
    shutil.rmtree(out, ignore_errors=True) if os.path.isdir(out) else None
    if os.path.exists(out):
        os.remove(out)
    start = time.perf_counter()
    if subprocess.run([wrapper, usage_file, tool, command, trace, "-o", out]).returncode != 0:
        sys.exit("%s %s failed" % (command, trace))
    elapsed = time.perf_counter() - start
    with open(usage_file) as report:
        peak_kib, cpu = report.read().split()
    return elapsed, float(cpu), int(peak_kib) / 1024

def disk(path):
    if os.path.isfile(path):
        return os.path.getsize(path)
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(path) for f in files)

commands = ("analyze", "otf2", "sqlite")
best = {c: None for c in commands}
cpu = {c: None for c in commands}
peak = {c: 0.0 for c in commands}
for _ in range(5):
    for command in commands:
        elapsed, used, rss = run(command)
        best[command] = elapsed if best[command] is None else min(best[command], elapsed)
        cpu[command] = used if cpu[command] is None else min(cpu[command], used)
        peak[command] = max(peak[command], rss)
executions = subprocess.run(["sqlite3", outputs["sqlite"], "SELECT count(*) FROM executions"],
                            capture_output=True, text=True).stdout.strip() or "?"
cell = lambda c: "%.1f (%.1f) %.0f" % (best[c], cpu[c], peak[c])
ratio = lambda c: "%.2f (cpu %.2f)" % (best[c] / best["analyze"], cpu[c] / cpu["analyze"])
print("| %s | %.0f | %s | %s | %s | %s | %s | %s | %.0f, %.0f |"
      % (label, size / 1e6, executions, cell("analyze"), cell("otf2"), ratio("otf2"), cell("sqlite"),
         ratio("sqlite"), disk(outputs["otf2"]) / 1e6, disk(outputs["sqlite"]) / 1e6))
PY
}

trace "$megabytes" 2 flow 1000
measure "flow, 1000 nodes"
trace "$megabytes" 2 openmp
measure "openmp, a node per task"
trace $((megabytes / 4)) 2 flow 1000
measure "flow, 1000 nodes, 1/4 size"
