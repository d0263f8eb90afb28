# Sourced by the benchmark scripts of this folder.

# find_tool BUILD_DIR NAME: the path of the executable NAME built in BUILD_DIR;
# fails, saying how to build it, when there is none.
find_tool() {
  local found
  found=$(find "$1" -name "$2" -type f -perm -u+x | head -n1)
  if [ -z "$found" ]; then
    echo "build $2 first (cmake -DMVT_BUILD_BENCH=ON)" >&2
    return 2
  fi
  echo "$found"
}

# use_scratch NAME: sets $work to a fresh directory under TMPDIR, removed
# when the script ends.
use_scratch() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

# trace ARGS...: a fresh generated trace in $work/trace, made by $generate
# (mvt_trace_generate) from ARGS (MEGABYTES [FILES [SHAPE [NODES]]]).
trace() {
  rm -rf "$work/trace"
  mkdir "$work/trace"
  "$generate" "$work/trace" "$@" >/dev/null
}
