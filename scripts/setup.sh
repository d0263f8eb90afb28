#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# only those that are missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libomp-14-dev libclang-rt-14-dev nlohmann-json3-dev
          libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libexpat1-dev
          graphviz python3 pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
