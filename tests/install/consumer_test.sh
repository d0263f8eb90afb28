#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds a consumer against it
# with find_package(mvt_xml) and with pkg-config, and runs both.
set -euo pipefail
build=$1 consumer=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S "$consumer" -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
export MVA_DIR="$prefix/trace" && mkdir "$MVA_DIR"
"$prefix/consumer/consumer"
libdir=$(dirname "$(find "$prefix" -name pkgconfig -type d)")
c++ -std=c++17 "$consumer/consumer.cpp" -o "$prefix/by_pkg_config" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs mvt_xml)
LD_LIBRARY_PATH="$libdir" "$prefix/by_pkg_config"
# The installed tool finds the installed library on its own.
"$prefix/bin/mvt-trace" record -o "$prefix/recorded" -- "$prefix/consumer/consumer" 2>"$prefix/record.err"
grep -q "trace in $prefix/recorded/: .* whole" "$prefix/record.err"
grep -q '<field>task_end</field>' "$MVA_DIR/_mvt.0"
echo "installed package works"
