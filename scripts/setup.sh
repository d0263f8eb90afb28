#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# only those that are missing, and the npm package the browser test drives
# Chromium with.
set -euo pipefail

packages=(cmake ninja-build g++ clang libomp-14-dev libclang-rt-14-dev
          libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libexpat1-dev
          graphviz python3 pkg-config chromium librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian (bringing its own npm); only a
# missing command is installed.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# playwright-core, pinned by tests/browser/package-lock.json; it drives the
# Chromium installed above and never downloads a browser of its own.
browser_tests=$(cd "$(dirname "$0")/../tests/browser" && pwd)
if [ ! -f "$browser_tests/node_modules/playwright-core/package.json" ] ||
   [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; then
  echo "setup: installing playwright-core for the browser test"
  (cd "$browser_tests" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
