#!/usr/bin/env bash
# The main job: build the library, trace the bundled example programs and
# show what they left behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON

out="$root/out"
rm -rf "$out"
# The library takes MVA_DIR as given and does not create it.
mkdir -p "$out/itt_trace" "$out/omp_trace"

show_trace() {
  echo "=== $1"
  for f in "$1"/_mvt.*; do
    printf '%-10s %6d lines %5d records\n' "$(basename "$f")" "$(wc -l <"$f")" "$(grep -c '^<record>$' "$f")"
  done
}

echo "=== tracing examples/itt_example.cpp (the __itt_* API from four threads) into out/itt_trace"
MVA_DIR="$out/itt_trace" build/release/examples/itt_example
show_trace "$out/itt_trace"
echo "=== its first record, in out/itt_trace/_mvt.0"
sed -n '3,/^<\/record>$/p' "$out/itt_trace/_mvt.0"

echo "=== tracing examples/openmp/omp_example.c through LLVM's libomp into out/omp_trace"
MVA_DIR="$out/omp_trace" OMP_TOOL_LIBRARIES="$root/build/release/src/libmvt_xml.so" \
  build/release/examples/openmp/omp_example
show_trace "$out/omp_trace"

tool=build/release/tools/mvt-trace/mvt-trace
for name in itt_trace omp_trace; do
  echo "=== mvt-trace on out/$name"
  "$tool" check "$out/$name"
  "$tool" summary "$out/$name"
  "$tool" timeline "$out/$name" -o "$out/$name.timeline.svg"
  "$tool" chrome "$out/$name" -o "$out/$name.trace.json"
  "$tool" dot "$out/$name" -o "$out/$name.graph.dot"
  dot -Tsvg "$out/$name.graph.dot" -o "$out/$name.graph.svg"
done
echo
echo "Pictures: out/*.timeline.svg (per-thread timelines) and out/*.graph.svg (the recorded graphs)."
echo "Load out/*.trace.json in ui.perfetto.dev or chrome://tracing."
