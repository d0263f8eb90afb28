#!/usr/bin/env bash
# The main job: set up, build the library, mvt-trace and the examples, trace
# the examples with mvt-trace record, and write what mvt-trace makes of them,
# ending with one report page per example. Package and build output stays
# out of sight unless something fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh main

build=build/main
bash scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_TESTS=OFF \
  -- mvt_xml mvt-trace itt_example omp_example_program
echo "built: $build/src/libmvt_xml.so, $build/tools/mvt-trace/mvt-trace and the examples"

tool=$build/tools/mvt-trace/mvt-trace
out=out
rm -rf "$out"
mkdir -p "$out"

# record prints where the trace went and whether it is whole; that line is
# the one worth showing, the rest is in out/NAME.record.log.
trace() {
  local name=$1 what=$2; shift 2
  if ! "$tool" record -o "$out/$name" -- "$@" >"$out/$name.record.log" 2>&1; then
    cat "$out/$name.record.log" >&2
    exit 1
  fi
  echo "traced $what: $(grep -o "trace in .*" "$out/$name.record.log")"
}
trace itt_trace "examples/itt_example.cpp (the __itt_* API, four threads)" "$build/examples/itt_example"
trace omp_trace "examples/openmp/omp_example.c (OpenMP on libomp)" "$build/examples/openmp/omp_example"

for name in itt_trace omp_trace; do
  "$tool" check "$out/$name" >"$out/$name.check.txt" || { cat "$out/$name.check.txt" >&2; exit 1; }
  "$tool" summary "$out/$name" -o "$out/$name.summary.txt"
  "$tool" analyze "$out/$name" -o "$out/$name.analyze.txt"
  "$tool" timeline "$out/$name" -o "$out/$name.timeline.svg"
  "$tool" chrome "$out/$name" -o "$out/$name.trace.json"
  "$tool" dot "$out/$name" -o "$out/$name.graph.dot"
  dot -Tsvg "$out/$name.graph.dot" -o "$out/$name.graph.svg"
  # The page that shows it all: timeline, graph, statistics, critical path.
  "$tool" report "$out/$name" -o "$out/$name.html"
done

# One line of each analysis: what limits the speedup.
echo
for name in omp_trace itt_trace; do
  graph=$(grep -m1 '^dependency graph:' "$out/$name.analyze.txt" || echo "dependency graph: none")
  work=$(grep -m1 '^  work ' "$out/$name.analyze.txt" | sed 's/^ *//' || true)
  echo "$name: ${graph#dependency graph: }${work:+; $work}"
done
echo "reports:   $out/omp_trace.html, $out/itt_trace.html (open one in a browser)"
echo "pictures:  $out/*.timeline.svg, $out/*.graph.svg; Perfetto: $out/*.trace.json (ui.perfetto.dev)"
echo "text:      $out/*.analyze.txt, $out/*.summary.txt; more: $tool --help"
