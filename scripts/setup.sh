#!/usr/bin/env bash
# setup.sh [main|test]: installs the Debian packages that the main job
# (main) or the whole test suite (test, the default) needs, only those that
# are missing. Package output goes to a log that is shown only on failure.
set -euo pipefail

main_packages=(cmake ninja-build g++ clang libomp-14-dev graphviz)
test_packages=("${main_packages[@]}" libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
               libpugixml-dev libexpat1-dev python3 pkg-config)

case ${1:-test} in
  main) packages=("${main_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *) echo "usage: setup.sh [main|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

echo "setup: installing ${missing[*]}"
log=$(mktemp "${TMPDIR:-/tmp}/mvt_setup.XXXXXX")
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "setup: installing packages failed (whole log: $log)" >&2
  exit 1
fi
rm -f "$log"
