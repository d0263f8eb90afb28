#!/usr/bin/env bash
# run_summary_bench.sh BUILD_DIR [MEGABYTES]: generates a synthetic trace of
# about MEGABYTES (default 600) and times "mvt-trace summary" on it, printing
# throughput and peak resident memory; then the same on a trace a quarter
# that size, to show that memory does not grow with the trace.
set -euo pipefail
build=${1:?usage: run_summary_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-600}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
use_scratch mvt_trace_bench

measure() {
  python3 - "$tool" "$1" <<'PY'
import os, resource, subprocess, sys, time
tool, trace = sys.argv[1], sys.argv[2]
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))
best = None
for _ in range(3):
    start = time.perf_counter()
    subprocess.run([tool, "summary", trace], check=True, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print("summary: %.0f MB in %.3f s = %.0f MB/s, peak RSS %.1f MiB"
      % (size / 1e6, best, size / 1e6 / best, peak_kib / 1024))
PY
}

for size in "$megabytes" $((megabytes / 4)); do
  rm -f "$work"/_mvt.*
  "$generate" "$work" "$size" 2
  measure "$work"
done
