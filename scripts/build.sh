#!/usr/bin/env bash
# build.sh DIR [cmake options...] [-- targets...]: configures DIR (once) and
# builds it, or only the given targets. The compiler's output goes to
# DIR/build.log and is shown only when the build fails (or with MVT_VERBOSE=1).
set -euo pipefail
dir=$1; shift
options=() targets=()
while (($#)); do
  if [ "$1" = "--" ]; then shift; targets=("$@"); break; fi
  options+=("$1"); shift
done
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$dir"
log="$dir/build.log"

run() {
  if [ "${MVT_VERBOSE:-0}" = 1 ]; then "$@"; return; fi
  if ! "$@" >>"$log" 2>&1; then
    grep -E -B2 -A12 'error|Error|FAILED' "$log" | tail -n 60 >&2 || tail -n 40 "$log" >&2
    echo "build: failed in $dir (whole log: $log)" >&2
    return 1
  fi
}

: >"$log"
if [ ! -f "$dir/build.ninja" ]; then
  run cmake -S "$root" -B "$dir" -G Ninja "${options[@]}"
fi
if ((${#targets[@]})); then
  run cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
else
  run cmake --build "$dir" -j "$(nproc)"
fi
