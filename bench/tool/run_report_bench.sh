#!/usr/bin/env bash
# run_report_bench.sh BUILD_DIR [MEGABYTES]: generates a synthetic trace of
# about MEGABYTES (default 100) and times "mvt-trace report" on it beside
# "mvt-trace analyze" (or "summary" where analyze is not built), best of
# three each; prints both times, their ratio and the size of the page.
set -euo pipefail
build=${1:?usage: run_report_bench.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-100}
tool=$(find "$build" -name mvt-trace -type f -perm -u+x | head -n1)
generate=$(find "$build" -name mvt_trace_generate -type f -perm -u+x | head -n1)
if [ -z "$tool" ] || [ -z "$generate" ]; then
  echo "build mvt-trace and mvt_trace_generate first (-DMVT_BUILD_BENCH=ON)" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/mvt_report_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/trace"
"$generate" "$work/trace" "$megabytes" 2

python3 - "$tool" "$work/trace" "$work/report.html" <<'PY'
import json, os, re, resource, subprocess, sys, time
tool, trace, page = sys.argv[1:]
size = sum(os.path.getsize(os.path.join(trace, f)) for f in os.listdir(trace))
known = subprocess.run([tool, "--help"], capture_output=True, text=True).stdout
reference = ["analyze", trace] if re.search(r"^  analyze ", known, re.M) else ["summary", trace]

def cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime

# Best of three, in wall time and in processor time (the latter holds up
# better on a machine that is busy with other work).
def best(args):
    walls, cpus = [], []
    for _ in range(3):
        start, start_cpu = time.perf_counter(), cpu()
        subprocess.run([tool] + args, check=True, stdout=subprocess.DEVNULL)
        walls.append(time.perf_counter() - start)
        cpus.append(cpu() - start_cpu)
    return min(walls), min(cpus)

ref, ref_cpu = best(reference)
rep, rep_cpu = best(["report", trace, "-o", page])
html = open(page, encoding="utf-8").read()
data = json.loads(re.search(r'id="mvt-data">(.*?)</script>', html, re.S).group(1).replace("<\\/", "</"))
lanes = data["timeline"]["lanes"]
embedded = sum(len(l["tasks"]["b"]) + len(l["regions"]["b"]) for l in lanes)
print("trace: %.0f MB in %d files" % (size / 1e6, len(os.listdir(trace))))
print("%s: %.3f s (cpu %.3f s)" % (reference[0], ref, ref_cpu))
print("report: %.3f s (cpu %.3f s) = %.2fx %s (cpu %.2fx)"
      % (rep, rep_cpu, rep / ref, reference[0], rep_cpu / ref_cpu))
print("page: %.1f MB, %d executions embedded, %d drawn as blocks"
      % (os.path.getsize(page) / 1e6, embedded, data["timeline"]["elided"]))
PY
