#!/usr/bin/env bash
# run_predict_bench.sh BUILD_DIR [RUNS]: sets "mvt-trace predict" against
# real runs, then times it on a trace of about 100,000 tasks.
#
# Accuracy: two programs whose tasks sleep, so that how many run at once
# follows the number of threads and not the machine's cores (a sleeping task
# frees its core):
#   openmp  sleeping_tasks, OpenMP tasks with dependences in layers, with
#           joins (bench/tool/sleeping_tasks.c);
#   flow    sleeping_flow, a oneTBB flow graph: a serial reader, two stages
#           of unlimited concurrency, a serial writer (sleeping_flow.cpp).
# Each is recorded RUNS times (default 3) on 2 threads; predict gives, from
# each trace, its time on 1, 4 and 8 workers, and with its heavy construct
# twice as fast on 2 and 8: the table shows the median prediction and the
# spread of the predictions over the traces, since a recording on a shared
# machine catches its load. The real runs, untraced, take the median wall
# time of RUNS runs with that many threads, and with the heavy construct
# made twice as fast.
# OpenMP's idle threads wait passively (OMP_WAIT_POLICY), recorded and real
# alike: threads that spin for work on a machine of two shared cores would
# hold back the wake-up of the sleeping tasks, and measure the machine's
# load rather than the program.
#
# Speed: a generated OpenMP-like trace of about 100,000 tasks, each with a
# node and dependences (generate_trace.cpp), predicted on 7 worker counts;
# the best of three runs, beside summary, which only reads the trace.
set -euo pipefail
build=${1:?usage: run_predict_bench.sh BUILD_DIR [RUNS]}
runs=${2:-3}
source "$(dirname "$0")/bench_tools.sh"
tool=$(find_tool "$build" mvt-trace)
generate=$(find_tool "$build" mvt_trace_generate)
omp_program=$(find_tool "$build" sleeping_tasks)
flow_program=$(find_tool "$build" sleeping_flow)
library=$(find "$build" -name libmvt_xml.so -print -quit)
use_scratch mvt_predict_bench

python3 - "$tool" "$work" "$runs" "$library" "$omp_program" "$flow_program" <<'PY'
import json, os, statistics, subprocess, sys, time
tool, work, runs, library, omp_program, flow_program = sys.argv[1:7]
runs = int(runs)

def wall(command, env):
    start = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start

def clean_env(extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("MVA_DIR", "OMP_TOOL_LIBRARIES", "INTEL_LIBITTNOTIFY64", "OMP_NUM_THREADS")}
    env["OMP_WAIT_POLICY"] = "passive"
    env.update(extra)
    return env

# Each program: how to run it on N threads, heavy construct faster by F;
# how to record it; and the label of its heavy construct.
programs = {
    "openmp": {
        "run": lambda n, f: ([omp_program, str(f)], clean_env({"OMP_NUM_THREADS": str(n)})),
        "record_env": {"OMP_NUM_THREADS": "2"},
        "heavy": "spawn_heavy",
    },
    "flow": {
        "run": lambda n, f: ([flow_program, str(n), str(f)], clean_env({})),
        "record_env": {"INTEL_LIBITTNOTIFY64": library},
        "heavy": "transform",
    },
}
cases = [(1, 1), (4, 1), (8, 1), (2, 2), (8, 2)]

print("%-7s %-26s %12s %19s %12s %8s" % ("program", "case", "predicted", "(traces' spread)", "real", "error"))
for name, p in programs.items():
    traces = []
    for k in range(runs):
        trace = os.path.join(work, "%s%d" % (name, k))
        command, _ = p["run"](2, 1)
        subprocess.run([tool, "record", "-q", "-o", trace, "--"] + command, env=clean_env(p["record_env"]),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        traces.append(trace)
    for workers, factor in cases:
        predictions = []
        for trace in traces:
            args = [tool, "predict", "--json", trace, "--workers", str(workers)]
            if factor != 1:
                args += ["--faster", "%s=%g" % (p["heavy"], factor)]
            predicted = json.loads(subprocess.run(args, stdout=subprocess.PIPE, check=True).stdout)
            predictions.append(predicted["predictions"][0]["time_ns"] / 1e9)
        predicted_s = statistics.median(predictions)
        command, env = p["run"](workers, factor)
        real_s = statistics.median(wall(command, env) for _ in range(runs))
        case = "%d worker%s" % (workers, "" if workers == 1 else "s")
        if factor != 1:
            case += ", %s x%g" % (p["heavy"], factor)
        print("%-7s %-26s %10.1f ms %8.1f - %6.1f ms %10.1f ms %+7.1f%%" % (
            name, case, predicted_s * 1e3, min(predictions) * 1e3, max(predictions) * 1e3, real_s * 1e3,
            100 * (predicted_s - real_s) / real_s))
PY

# About 1,650 bytes a task in the generated trace: 165 MB hold some 100,000.
rm -rf "$work/large"
mkdir "$work/large"
"$generate" "$work/large" 165 2 openmp
python3 - "$tool" "$work/large" <<'PY'
import json, subprocess, sys, time
tool, trace = sys.argv[1:3]

def best(args):
    times = []
    for _ in range(3):
        start = time.perf_counter()
        out = subprocess.run([tool] + args, stdout=subprocess.PIPE, check=True).stdout
        times.append(time.perf_counter() - start)
    return min(times), out

predict_s, out = best(["predict", "--json", "--workers", "1,2,4,8,16,32,64", trace])
summary_s, _ = best(["summary", trace])
analysis = json.loads(subprocess.run([tool, "analyze", "--json", trace], stdout=subprocess.PIPE, check=True).stdout)
tasks = analysis["dependency_graph"]["executions"]
print("predict, %d tasks, 7 worker counts: %.2f s (summary, reading alone: %.2f s)" % (tasks, predict_s, summary_s))
PY
