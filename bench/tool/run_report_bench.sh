#!/usr/bin/env bash
# run_report_bench.sh BUILD_DIR [MEGABYTES]: times "mvt-trace report" beside
# "mvt-trace analyze" on synthetic traces of about MEGABYTES (default 100), in
# two shapes (see generate_trace.cpp): an OpenMP-like run whose every task
# has a node (the graph grows with the trace) and a flow graph of 1000 nodes
# executed over and over (the executions grow). The two commands alternate,
# three times each, and the best time of each counts; prints both times,
# their ratio (the goal: report within 3x analyze) and the size of the page
# (the goal: under 20 MB). Wall time counts; processor time (user + system,
# all threads) is printed beside it, as it varies less on a busy machine.
set -euo pipefail
build=${1:?usage: run_report_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-100}
tool=$(find "$build" -name mvt-trace -type f -perm -u+x | head -n1)
generate=$(find "$build" -name mvt_trace_generate -type f -perm -u+x | head -n1)
if [ -z "$tool" ] || [ -z "$generate" ]; then
  echo "build mvt-trace and mvt_trace_generate first (-DMVT_BUILD_BENCH=ON)" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/mvt_report_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

measure() {
  python3 - "$tool" "$work/trace" "$work/report.html" "$1" <<'PY'
import json, os, re, subprocess, sys, time
tool, trace, page, label = sys.argv[1:]
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))

def run(args):
    start = time.perf_counter()
    child = subprocess.Popen([tool] + args, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit("%s failed" % " ".join(args))
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime

wall = {"analyze": [], "report": []}
cpu = {"analyze": [], "report": []}
for _ in range(3):
    for command, args in (("analyze", ["analyze", trace]), ("report", ["report", trace, "-o", page])):
        w, c = run(args)
        wall[command].append(w)
        cpu[command].append(c)
a, r = min(wall["analyze"]), min(wall["report"])
ac, rc = min(cpu["analyze"]), min(cpu["report"])
html = open(page, encoding="utf-8").read()
data = json.loads(re.search(r'id="mvt-data">(.*?)</script>', html, re.S).group(1))
lanes = data["timeline"]["lanes"]
embedded = sum(len(l["tasks"]["b"]) + len(l["regions"]["b"]) for l in lanes)
print("%-24s %4.0f MB  analyze %.3f s (cpu %.3f)  report %.3f s (cpu %.3f)  ratio %.2f (cpu %.2f)  "
      "page %.1f MB: %d executions, %d as blocks, %d of %d nodes listed"
      % (label, size / 1e6, a, ac, r, rc, r / a, rc / ac, os.path.getsize(page) / 1e6, embedded,
         data["timeline"]["elided"], len(data["analysis"]["nodes"]), data["analysis"].get("nodes_total", 0)))
PY
}

trace() {
  rm -rf "$work/trace"
  mkdir "$work/trace"
  "$generate" "$work/trace" "$@" >/dev/null
}

trace "$megabytes" 2 openmp
measure "openmp, a node per task"
trace "$megabytes" 2 flow 1000
measure "flow, 1000 nodes"
