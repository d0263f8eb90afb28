#!/usr/bin/env bash
# setup.sh [main|test]: installs what the main job (main) or the whole test
# suite (test, the default) needs and is missing: Debian packages, and for
# the suite the npm package that drives Chromium in the browser test. Their
# output goes to a log that is shown only on failure.
set -euo pipefail

# llvm-14 brings llvm-symbolizer, which names the code addresses of a trace.
# mvt-trace otf2 and sqlite write through OTF2's and SQLite's own libraries;
# OTF2 is found through its pkg-config file. Their tests read the results
# back with otf2-print (otf2-tools) and the sqlite3 shell.
main_packages=(cmake ninja-build g++ clang libomp-14-dev nlohmann-json3-dev graphviz llvm-14
               pkg-config libopen-trace-format2-dev libsqlite3-dev)
test_packages=("${main_packages[@]}" libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libtbb-dev
               libpugixml-dev libexpat1-dev libdnnl-dev python3 chromium librsvg2-bin otf2-tools sqlite3)

case ${1:-test} in
  main) packages=("${main_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *) echo "usage: setup.sh [main|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${1:-test}" = test ]; then
  # Node.js may come from elsewhere than Debian (bringing its own npm); only
  # a missing command is installed.
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
fi

log=$(mktemp "${TMPDIR:-/tmp}/mvt_setup.XXXXXX")
trap 'rm -f "$log"' EXIT
quietly() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "setup: '$*' failed" >&2
    exit 1
  fi
}

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  quietly apt-get update -qq
  quietly apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "${1:-test}" = test ]; then
  # playwright-core, pinned by tests/browser/package-lock.json; it drives the
  # Chromium installed above and never downloads a browser of its own.
  browser_tests=$(cd "$(dirname "$0")/../tests/browser" && pwd)
  if [ ! -f "$browser_tests/node_modules/playwright-core/package.json" ] ||
     [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; then
    echo "setup: installing playwright-core for the browser test"
    cd "$browser_tests"
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 quietly npm ci --no-audit --no-fund --loglevel=error
  fi
fi
