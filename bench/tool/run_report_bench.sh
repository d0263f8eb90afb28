#!/usr/bin/env bash
# run_report_bench.sh BUILD_DIR [MEGABYTES]: times "mvt-trace report" beside
# "mvt-trace analyze" on synthetic traces of about MEGABYTES (default 100), in
# two shapes (see generate_trace.cpp): an OpenMP-like run whose every task
# has a node (the graph grows with the trace) and a flow graph of 1000 nodes
# executed over and over (the executions grow). The two commands alternate,
# three times each, and the best time of each counts; prints both times,
# their ratio (the goal: report within 3x analyze), the size of the page (the
# goal: under 20 MB) and each command's peak memory. Then the flow graph at
# three times the size: report's memory should not follow the executions.
# Wall time counts; processor time (user + system, all threads) is printed
# beside it, as it varies less on a busy machine.
set -euo pipefail
build=${1:?usage: run_report_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-100}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
peak=$(find_tool "$build" mvt_trace_peak_memory)
use_scratch mvt_report_bench

measure() {
  python3 - "$tool" "$work/trace" "$work/report.html" "$1" "$peak" "$work/usage" <<'PY'
import json, os, re, subprocess, sys, time
tool, trace, page, label, wrapper, usage_file = sys.argv[1:7]
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))

def run(args):
    start = time.perf_counter()
    if subprocess.run([wrapper, usage_file, tool] + args, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("%s failed" % " ".join(args))
    elapsed = time.perf_counter() - start
    with open(usage_file) as report:
        peak_kib, cpu = report.read().split()
    return elapsed, float(cpu), int(peak_kib) / 1024

wall = {"analyze": [], "report": []}
cpu = {"analyze": [], "report": []}
peak = {"analyze": 0, "report": 0}
for _ in range(3):
    for command, args in (("analyze", ["analyze", trace]), ("report", ["report", trace, "-o", page])):
        w, c, rss = run(args)
        wall[command].append(w)
        cpu[command].append(c)
        peak[command] = max(peak[command], rss)
a, r = min(wall["analyze"]), min(wall["report"])
ac, rc = min(cpu["analyze"]), min(cpu["report"])
html = open(page, encoding="utf-8").read()
data = json.loads(re.search(r'id="mvt-data">(.*?)</script>', html, re.S).group(1))
lanes = data["timeline"]["lanes"]
embedded = sum(len(l["tasks"]["b"]) + len(l["regions"]["b"]) for l in lanes)
print("%-28s %4.0f MB  analyze %.3f s %5.1f MiB  report %.3f s %5.1f MiB  ratio %.2f (cpu %.2f)  "
      "page %.1f MB: %d executions, %d as blocks, %d of %d nodes listed"
      % (label, size / 1e6, a, peak["analyze"], r, peak["report"], r / a, rc / ac, os.path.getsize(page) / 1e6,
         embedded, data["timeline"]["elided"], len(data["analysis"]["nodes"]), data["analysis"].get("nodes_total", 0)))
PY
}

trace "$megabytes" 2 openmp
measure "openmp, a node per task"
trace "$megabytes" 2 flow 1000
measure "flow, 1000 nodes"
trace $((megabytes * 3)) 2 flow 1000
measure "flow, 1000 nodes, 3x size"
