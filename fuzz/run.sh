#!/usr/bin/env bash
# run.sh BUILD_DIR SECONDS: replays each fuzzer's seed corpus, then fuzzes
# for SECONDS in all, split between the XML reader's fuzzer and mvt-trace's
# trace reader fuzzer. Exits non-zero on a crash, leaving the crashing input
# under BUILD_DIR/fuzz/artifacts/.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
artifacts="$build/fuzz/artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"

# Standard output is closed for the targets: the XML reader's truncation
# warnings are expected.
common=(-close_fd_mask=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/")

# fuzz NAME CORPUS SECONDS
fuzz() {
  local fuzzer="$build/fuzz/$1" corpus=$2 time=$3
  mkdir -p "$work/$1"
  echo "fuzz: $1: replaying $(ls "$corpus" | wc -l) seed inputs"
  "$fuzzer" "${common[@]}" "$corpus"/*
  echo "fuzz: $1: fuzzing for $time s"
  "$fuzzer" "${common[@]}" -max_total_time="$time" -print_final_stats=1 "$work/$1" "$corpus"
}

half=$(( (seconds + 1) / 2 ))
fuzz xml_parse_dump_fuzzer "$here/corpus" "$half"
fuzz trace_reader_fuzzer "$here/trace_corpus" "$(( seconds - half > 0 ? seconds - half : 1 ))"
echo "fuzz: no crash"
