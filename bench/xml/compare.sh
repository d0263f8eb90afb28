#!/usr/bin/env bash
# compare.sh BUILD_DIR [ROUNDS]: parses generated files with this library,
# pugixml (DOM), expat (SAX, no tree) and a bare read() loop, each parse in a
# process of its own, the libraries taking turns within every round. Prints
# the best parse time of ROUNDS (default 5) and the peak resident size per
# library and file, with ratios to pugixml. Files go to TMPDIR (or /tmp) and
# are removed at the end. BASELINE_DRIVER may name the driver of an earlier
# build of this library; its "ours" then runs too, as "baseline".
set -euo pipefail
driver="$(cd "$1" && pwd)/bench/xml/xml_parse_driver"
rounds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/mvt_xml_compare_XXXXXX")
trap 'rm -rf "$work"' EXIT
libraries=(ours pugixml expat read)
if [ -n "${BASELINE_DRIVER:-}" ]; then libraries+=(baseline); fi

# name shape bytes
files=("trace-40MB trace 41943040" "trace-400MB trace 419430400" "attributes-40MB attributes 41943040")
per_mib="$work/per_mib"
: >"$per_mib"

for file in "${files[@]}"; do
  read -r name shape bytes <<<"$file"
  "$driver" generate "$shape" "$bytes" "$work/$name.xml" >/dev/null
  results="$work/$name.results"
  : >"$results"
  for ((round = 0; round < rounds; round++)); do
    # Rotate the order so that no library always runs first after a file's
    # pages went cold or the previous process released its memory.
    for ((i = 0; i < ${#libraries[@]}; i++)); do
      lib=${libraries[$(((i + round) % ${#libraries[@]}))]}
      if [ "$lib" = baseline ]; then
        echo "$lib $("$BASELINE_DRIVER" ours "$work/$name.xml")" >>"$results"
      else
        echo "$lib $("$driver" "$lib" "$work/$name.xml")" >>"$results"
      fi
    done
  done
  rm -f "$work/$name.xml"
  echo "== $name ($(( bytes >> 20 )) MiB, best of $rounds)"
  awk -v mib="$(( bytes >> 20 ))" '
    { if (!($1 in best) || $2 < best[$1]) { best[$1] = $2; freed[$1] = $3 }
      if (!($1 in peak) || $4 < peak[$1]) peak[$1] = $4
      kids[$1] = $5 }
    END {
      printf "%-8s %10s %8s %9s %10s %9s %8s\n", "library", "parse_ms", "MB/s", "free_ms", "peak_MiB", "time/pugi", "rss/pugi"
      n = split("ours pugixml expat read baseline", order, " ")
      for (i = 1; i <= n; i++) {
        l = order[i]
        if (!(l in best)) continue
        printf "%-8s %10.1f %8.0f %9.1f %10.1f %9.2f %8.2f\n", l, best[l], mib * 1000 / best[l], freed[l],
               peak[l] / 1024, best[l] / best["pugixml"], peak[l] / peak["pugixml"]
      }
      if (kids["ours"] != kids["pugixml"] || kids["ours"] != kids["expat"])
        printf "MISMATCH: root children ours %s, pugixml %s, expat %s\n", kids["ours"], kids["pugixml"], kids["expat"]
      for (i = 1; i <= 3; i++)
        printf "%s %s %.3f %.0f\n", FILENAME, order[i], best[order[i]] / mib, peak[order[i]] / mib > "/dev/stderr"
    }' "$results" 2>>"$per_mib"
done

# Linear growth: the cost per MiB of input should not rise with the file.
echo "== per MiB of trace-like input: parse ms and peak KiB, 40 MiB -> 400 MiB"
awk '$1 ~ /trace-40MB/ { t40[$2] = $3; m40[$2] = $4 }
     $1 ~ /trace-400MB/ { t400[$2] = $3; m400[$2] = $4 }
     END { for (l in t40) printf "%-8s %7.2f -> %7.2f ms (x%.2f)   %6.0f -> %6.0f KiB (x%.2f)\n", l, t40[l], t400[l],
                              t400[l] / t40[l], m40[l], m400[l], m400[l] / m40[l] }' "$per_mib" | sort
