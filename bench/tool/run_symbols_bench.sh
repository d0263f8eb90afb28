#!/usr/bin/env bash
# run_symbols_bench.sh BUILD_DIR [MEGABYTES]: what naming code addresses adds
# to analyze. First a real run: examples/openmp's omp_example recorded by
# "mvt-trace record", its distinct addresses resolved against its own module
# map. Then a generated OpenMP-like trace of about MEGABYTES (default 1000),
# with 100 and 10,000 places of omp_example's code resolved in place of
# its few addresses (a program with that many task and region sites), each
# resolve time set against the best of three "mvt-trace analyze" runs of
# that trace.
# Symbolizing runs once per analyze, after its pass over the trace, so the
# share is resolve time / analyze time; the target is at most 20 %.
set -euo pipefail
build=${1:?usage: run_symbols_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-1000}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
bench=$(find_tool "$build" mvt_trace_symbols_bench)
example=$(find_tool "$build" omp_example)
use_scratch mvt_symbols_bench

"$tool" record -o "$work/real" -- "$example" >/dev/null 2>&1
process=$(ls -d "$work"/real/001-*)
echo "real run ($(basename "$example")):"
"$bench" "$process" "$process/mvt-modules.txt"

mkdir "$work/trace"
"$generate" "$work/trace" "$megabytes" 2 openmp
best=$(python3 - "$tool" "$work/trace" <<'PY'
import subprocess, sys, time
best = None
for _ in range(3):
    start = time.perf_counter()
    subprocess.run([sys.argv[1], "analyze", sys.argv[2]], stdout=subprocess.DEVNULL, check=True)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
print("%.3f" % best)
PY
)
echo "generated trace: mvt-trace analyze, best of 3: $best s"
for sites in 100 10000; do
  line=$("$bench" "$work/trace" "$process/mvt-modules.txt" "$sites")
  share=$(python3 -c 'import re, sys; print("%.1f" % (100 * float(re.search(r"resolved in ([0-9.]+) s", sys.argv[1]).group(1)) / float(sys.argv[2])))' "$line" "$best")
  printf '%6d sites: %s: %s %% of analyze\n' "$sites" "$line" "$share"
done
