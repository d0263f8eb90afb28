#!/usr/bin/env bash
# run_analyze_bench.sh BUILD_DIR [MEGABYTES]: times "mvt-trace analyze" against
# "mvt-trace summary" on generated traces of about MEGABYTES (default 400),
# side by side: the two commands alternate, three times each, and the best
# time of each counts. Two shapes of trace:
#   flow    a flow graph of 1000 nodes declared once, then only executions;
#   openmp  an OpenMP-like run where every task has a node of its own, so the
#           graph grows with the trace (the hard case for analyze).
# Wall time counts; CPU time (user + system) is printed beside it, as it
# varies less when other work shares the machine. Peak memory is each
# command's own, measured by mvt_trace_peak_memory.
# Then analyze's peak memory on flow traces: a quarter the size with the same
# graph (memory should not follow the executions), and the same size with ten
# times the nodes (memory follows the graph).
set -euo pipefail
build=${1:?usage: run_analyze_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-400}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
peak=$(find_tool "$build" mvt_trace_peak_memory)
use_scratch mvt_analyze_bench

# measure LABEL COMMAND...: best of three alternating runs of summary and
# analyze, with the throughput of each, their ratio and analyze's peak RSS.
measure() {
  python3 - "$tool" "$work/trace" "$1" "$peak" "$work/usage" <<'PY'
import os, subprocess, sys, time
tool, trace, label, wrapper, usage_file = sys.argv[1:6]
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))

def run(command):
    start = time.perf_counter()
    if subprocess.run([wrapper, usage_file, tool, command, trace], stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("%s %s failed" % (command, trace))
    elapsed = time.perf_counter() - start
    with open(usage_file) as report:
        peak_kib, cpu = report.read().split()
    return elapsed, float(cpu), int(peak_kib) / 1024

best = {"summary": None, "analyze": None}
cpu = {"summary": None, "analyze": None}
peak = {"summary": 0, "analyze": 0}
for _ in range(3):
    for command in ("summary", "analyze"):
        elapsed, used, rss = run(command)
        best[command] = elapsed if best[command] is None else min(best[command], elapsed)
        cpu[command] = used if cpu[command] is None else min(cpu[command], used)
        peak[command] = max(peak[command], rss)
rate = {c: size / 1e6 / best[c] for c in best}
print("%-26s %4.0f MB  summary %5.0f MB/s %5.1f MiB  analyze %5.0f MB/s %6.1f MiB  ratio %.2f (cpu %.2f)"
      % (label, size / 1e6, rate["summary"], peak["summary"], rate["analyze"], peak["analyze"],
         rate["analyze"] / rate["summary"], cpu["summary"] / cpu["analyze"]))
PY
}

trace "$megabytes" 2 flow 1000
measure "flow, 1000 nodes"
trace "$megabytes" 2 openmp
measure "openmp, a node per task"
trace $((megabytes / 4)) 2 flow 1000
measure "flow, 1000 nodes, 1/4 size"
trace "$megabytes" 2 flow 10000
measure "flow, 10000 nodes"
