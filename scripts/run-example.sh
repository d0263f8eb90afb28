#!/usr/bin/env bash
# The main job: build the library, trace the bundled example program and show
# what it left behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVT_BUILD_BENCH=ON

out="$root/out"
rm -rf "$out" && mkdir -p "$out/itt_trace"
echo "=== tracing examples/itt_example.cpp into out/itt_trace"
MVA_DIR="$out/itt_trace" build/release/examples/itt_example
echo "=== out/itt_trace"
for f in "$out"/itt_trace/_mvt.*; do
  printf '%-10s %6d lines %5d records\n' "$(basename "$f")" "$(wc -l <"$f")" "$(grep -c '^<record>$' "$f")"
done
echo "=== first record of out/itt_trace/_mvt.0"
sed -n '3,/^<\/record>$/p' "$out/itt_trace/_mvt.0"
