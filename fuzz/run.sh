#!/usr/bin/env bash
# run.sh BUILD_DIR SECONDS: replays the seed corpus through the XML reader's
# fuzzer, then fuzzes for SECONDS more. Exits non-zero on a crash, leaving the
# crashing input under BUILD_DIR/fuzz/artifacts/.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
fuzzer="$build/fuzz/xml_parse_dump_fuzzer"
artifacts="$build/fuzz/artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"

# Standard output is closed for the target: truncation warnings are expected.
common=(-close_fd_mask=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/")

echo "fuzz: replaying $(ls "$here/corpus" | wc -l) seed inputs"
"$fuzzer" "${common[@]}" "$here"/corpus/*

echo "fuzz: fuzzing for $seconds s"
"$fuzzer" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work" "$here/corpus"
echo "fuzz: no crash"
