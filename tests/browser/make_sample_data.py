#!/usr/bin/env python3
"""Writes the data object of a report page for a small blocked stencil, with
every member the page can draw, some of which no run of mvt-trace writes yet
(scalability, what_if, comparison). The browser test writes it when it runs
and shows it in the page built by a real report.

usage: make_sample_data.py OUT.json   (needs Graphviz's dot for the drawings)

The run: two threads run 4 fill tasks, 3 steps of 4 sweep tasks and one
untied reduce task that runs in two pieces, one on each thread; a burst of
120 tiny tasks without dependences; a third thread whose 1,200 short
executions are not embedded; one execution still open at the end."""
import json
import re
import subprocess
import sys

MS = 1000000
SPAN = 100 * MS


def location(function, line, inlined=None):
    place = {"function": function, "file": "/src/jacobi.c", "line": line}
    if inlined:
        place["inlined_into"] = {"function": inlined[0], "file": "/src/jacobi.c", "line": inlined[1]}
    return place


CONSTRUCTS = [
    {"label": "sweep (jacobi.c:57)", "location": location("sweep", 57, ("main", 44))},
    {"label": "fill (jacobi.c:40)", "location": location("fill", 40)},
    {"label": "reduce (jacobi.c:71)", "location": location("reduce", 71)},
]

# The task nodes: (construct, name of its node, thread, begin, end) per
# execution, and per piece for the untied reduce.
tasks = [{"construct": 1, "key": "fill b%d" % b, "pieces": [(b % 2, (6 + 4 * (b // 2)) * MS, (9.5 + 4 * (b // 2)) * MS)]}
         for b in range(4)]
for s in range(3):
    for b in range(4):
        begin = (15 + 11 * s + 5 * (b // 2)) * MS
        length = (4.5 if (s, b) != (1, 1) else 4.9) * MS
        tasks.append({"construct": 0, "key": "sweep s%d b%d" % (s + 1, b), "pieces": [(b % 2, begin, begin + length)]})
tasks.append({"construct": 2, "key": "reduce", "pieces": [(0, 60 * MS, 66 * MS), (1, 70 * MS, 78 * MS)]})
for k, t in enumerate(tasks):
    t["task"] = 0x1000000000000 + 50 + k
    t["pieces"] = [(th, int(b), int(e)) for th, b, e in t["pieces"]]
    t["total"] = sum(e - b for _, b, e in t["pieces"])
    t["address"] = "0x55d4a1b2c%03x" % (0x400 + 0x40 * t["construct"])

# analysis.nodes: by total time, largest first.
order = sorted(range(len(tasks)), key=lambda k: -tasks[k]["total"])
for row, k in enumerate(order):
    tasks[k]["row"] = row


def stats(durations):
    n, total, ordered = len(durations), sum(durations), sorted(durations)
    mean = total // n
    var = sum((d - mean) ** 2 for d in durations) / n
    return {"executions": n, "total_ns": total, "mean_ns": mean, "stddev_ns": int(var ** 0.5), "min_ns": ordered[0],
            "p50_ns": ordered[(n - 1) // 2], "p95_ns": ordered[min(n - 1, -(-95 * n // 100) - 1)], "max_ns": ordered[-1]}


nodes = [dict({"id": "%d.1.0" % t["task"], "process": 0, "name": "node", "label": CONSTRUCTS[t["construct"]]["label"],
               "kind": "node", "code_address": t["address"], "location": CONSTRUCTS[t["construct"]]["location"]},
              **stats([t["total"]])) for t in (tasks[k] for k in order)]

critical = ["fill b0", "sweep s1 b0", "sweep s2 b1", "sweep s3 b1", "reduce"]
by_key = {t["key"]: t for t in tasks}
work = sum(t["total"] for t in tasks)
span = sum(by_key[k]["total"] for k in critical)

constructs = []
for index, c in enumerate(CONSTRUCTS):
    members = [t for t in tasks if t["construct"] == index]
    s = stats([t["total"] for t in members])
    on_path = sum(by_key[k]["total"] for k in critical if by_key[k]["construct"] == index)
    constructs.append({"label": c["label"], "location": c["location"], "nodes": len(members), "executions": s["executions"],
                       "total_ns": s["total_ns"], "mean_ns": s["mean_ns"], "p95_ns": s["p95_ns"],
                       "share_of_work": round(s["total_ns"] / work, 3), "share_of_span": round(on_path / span, 3)})
construct_order = sorted(range(len(constructs)), key=lambda k: -constructs[k]["total_ns"])
constructs = [constructs[k] for k in construct_order]
construct_row = {old: new for new, old in enumerate(construct_order)}

path = [{"id": "%d.1.0" % by_key[key]["task"], "process": 0, "name": "node",
         "label": CONSTRUCTS[by_key[key]["construct"]]["label"], "instance": 1,
         "begin_ns": by_key[key]["pieces"][0][1], "duration_ns": by_key[key]["total"]} for key in critical]
path_by_node = sorted(({"id": p["id"], "process": 0, "name": "node", "label": p["label"], "steps": 1,
                        "total_ns": p["duration_ns"], "share": round(p["duration_ns"] / span, 3)} for p in path),
                      key=lambda p: -p["total_ns"])

# The timeline: per lane, bars (row, begin, end, name, record) by row then time.
names, details = [], []


def name_index(text):
    if text not in names:
        names.append(text)
    return names.index(text)


def detail(ident, parent, name, busy, node=-1, pieces=1, metadata=None):
    details.append({"id": ident, "parent": parent, "node": node, "name": name, "busy_ns": busy, "pieces": pieces,
                    "metadata": metadata or {}})
    return len(details) - 1


lanes = [{"label": "thread %d" % k, "file": "sample/_mvt.%d" % k, "records": r, "bars": [], "regions": [],
          "blocks": {"b": [], "e": [], "d": [], "c": []}} for k, r in ((0, 180), (1, 640), (2, 2410))]

# The runtime's own executions: the parallel region's task and the implicit
# tasks, each thread's, and a barrier.
region = detail("281474976710669.0.0", "0.0.0", "omp_parallel", 300000, metadata={"code_address": "0x55d4a1b2c000"})
lanes[0]["bars"].append((0, 5 * MS, 95 * MS, name_index("parallel region at main (jacobi.c:30)"), region))
for lane, begin in ((0, 5 * MS), (1, 5.5 * MS)):
    implicit = detail("%d.0.0" % (281474976710670 + lane), "281474976710669.0.0", "omp_implicit", 1200000)
    lanes[lane]["bars"].append((1 - lane, int(begin), 95 * MS, name_index("omp_implicit"), implicit))
lanes[1]["bars"].append((1, 88 * MS, 94 * MS, name_index("omp_barrier"),
                         detail("0.0.0", "281474976710671.0.0", "omp_barrier", 6 * MS)))
for t in tasks:
    t["details"] = detail("%d.0.0" % t["task"], "281474976710670.0.0", "omp_explicit", t["total"], t["row"],
                          len(t["pieces"]), {"code_address": t["address"]})
    for thread, begin, end in t["pieces"]:
        lanes[thread]["bars"].append((2 - thread, begin, end, name_index(CONSTRUCTS[t["construct"]]["label"]), t["details"]))
# Text that looks like markup, in a record's metadata.
details[by_key["sweep s1 b0"]["details"]]["metadata"]["note"] = 'first line\nsecond <b> & "q" </script><!-- x'

# A burst of tasks without dependences, narrower than a pixel at full view.
tiny = [(48 * MS + k * 36000, 48 * MS + k * 36000 + 30000) for k in range(120)]
for k, (begin, end) in enumerate(tiny):
    lanes[1]["bars"].append((1, begin, end, name_index("omp_explicit"),
                             detail("%d.0.0" % (9000 + k), "281474976710671.0.0", "omp_explicit", 30000)))
# A region before the parallel region, and one still open at the end, beside
# an execution still open.
lanes[0]["regions"].append((0, int(0.2 * MS), 4 * MS, name_index("setup"), False))
lanes[2]["regions"].append((0, int(92.5 * MS), SPAN, name_index("io"), True))
checksum = detail("77.0.0", "0.0.0", "checksum", 7 * MS, metadata={"phase": "report"})
lanes[2]["bars"].append((0, 93 * MS, SPAN, name_index("checksum"), checksum))
lanes[2]["blocks"] = {"b": [10 * MS, 30 * MS], "e": [30 * MS, 50 * MS], "d": [2, 2], "c": [500, 700]}

timeline_lanes = []
for lane in lanes:
    bars = sorted(lane["bars"], key=lambda b: (b[0], b[1]))
    regions = sorted(lane["regions"], key=lambda r: (r[0], r[1]))
    region_rows = 1 if regions else 0
    task_rows = max([b[0] + 1 for b in bars] + [d - region_rows + 1 for d in lane["blocks"]["d"]])
    timeline_lanes.append({
        "label": lane["label"], "file": lane["file"], "process": 0, "rows": region_rows + task_rows,
        "region_rows": region_rows, "records": lane["records"],
        "tasks": {"b": [b[1] for b in bars], "e": [b[2] for b in bars], "d": [b[0] for b in bars],
                  "n": [b[3] for b in bars], "x": [b[4] for b in bars]},
        "regions": {"b": [r[1] for r in regions], "e": [r[2] for r in regions], "d": [r[0] for r in regions],
                    "n": [r[3] for r in regions], "x": [-1 for _ in regions]},
        "open": [i for i, b in enumerate(bars) if b[4] == checksum], "open_regions": [i for i, r in enumerate(regions) if r[4]],
        "blocks": lane["blocks"]})


def buckets(value_at):
    return [round(value_at(k * 1000000 + 500000), 3) for k in range(100)]


def running(t, pieces):
    return sum(1 for b, e in pieces if b <= t < e)


task_pieces = [(b, e) for t in tasks for _, b, e in t["pieces"]] + tiny
implicit_pieces = [(5 * MS, 95 * MS), (int(5.5 * MS), 95 * MS)]
# A thread is busy while any execution of its is open: at most one count per
# thread.
concurrency = {
    "average": 2.12, "max": 3, "time_at_ns": {"0": 1800000, "1": 5000000, "2": 84000000, "3": 9200000},
    "series": {"bucket_ns": 1000000, "mean": buckets(lambda t: min(2, running(t, implicit_pieces)) +
                                                     running(t, [(93 * MS, SPAN), (int(0.2 * MS), 4 * MS)]))},
    "tasks": {"average": 0.71, "max": 2, "time_at_ns": {"0": 40000000, "1": 40000000, "2": 20000000},
              "series": {"bucket_ns": 1000000, "mean": buckets(lambda t: min(2, running(t, task_pieces)))}},
}

runtime = [
    dict({"id": "281474976710669.1.0", "process": 0, "name": "composite_node", "label": "parallel region at main (jacobi.c:30)",
          "kind": "composite_node", "code_address": "0x55d4a1b2c000", "location": location("main", 30)}, **stats([90 * MS])),
    dict({"name": "omp_implicit", "process": 0}, **stats([90 * MS, int(89.5 * MS)])),
    dict({"name": "omp_barrier", "process": 0}, **stats([6 * MS])),
]

predictions = [{"workers": p, "time_ns": int(span + (work - span) / p + 0.4 * MS * (p - 1) ** 0.5), "speedup": 0,
                "lower_bound_ns": int(max(span, work / p)), "upper_bound_ns": int(span + work / p)} for p in (1, 2, 4, 8, 16, 32)]
for prediction in predictions:
    prediction["speedup"] = round(predictions[0]["time_ns"] / prediction["time_ns"], 3)
what_if = sorted(({"label": c["label"], "time_ns": predictions[1]["time_ns"] - saved, "saved_ns": saved}
                  for c in constructs for saved in [int(c["total_ns"] * c["share_of_span"] / 2)] if saved > 0),
                 key=lambda w: -w["saved_ns"])


def side(executions, total, p95):
    return {"executions": executions, "total_ns": total, "mean_ns": total // executions, "p50_ns": total // executions, "p95_ns": p95}


def change(base, new):
    return {"base": base, "new": new, "change": round(new / base - 1, 3)}


sweep, fill = constructs[construct_row[0]], constructs[construct_row[1]]
comparison = {
    "constructs": [
        {"label": sweep["label"], "location": sweep["location"], "base": side(12, int(sweep["total_ns"] / 1.35), 3600000),
         "new": side(12, sweep["total_ns"], sweep["p95_ns"]), "change": 0.35, "significant": True, "regressed": True},
        {"label": fill["label"], "location": fill["location"], "base": side(4, int(fill["total_ns"] * 1.25), 4400000),
         "new": side(4, fill["total_ns"], fill["p95_ns"]), "change": -0.2, "significant": True, "regressed": False},
        {"label": "halo (jacobi.c:50)", "location": location("halo", 50), "base": side(8, 1600000, 210000),
         "new": side(8, 1610000, 212000), "change": 0.006, "significant": False, "regressed": False},
    ],
    "run": {"wall_ns": change(82 * MS, SPAN), "work_ns": change(58 * MS, work), "span_ns": change(24 * MS, span),
            "parallelism": {"base": round(58 / 24, 3), "new": round(work / span, 3),
                            "change": round((work / span) / (58 / 24) - 1, 3)}},
    "added": [constructs[construct_row[2]]["label"]],
    "removed": ["checksum (jacobi.c:88)"],
}


# The drawings as the report writes them: no comments, and '-' plain.
def drawing(vertices, edges):
    dot = ('digraph run {\n  rankdir=LR; node [shape=box, style="rounded,filled", fillcolor="#dde6f4", '
           'fontname="Helvetica", fontsize=10];\n' + vertices + edges + "}\n")
    svg = subprocess.run(["dot", "-Tsvg"], input=dot, capture_output=True, text=True, check=True).stdout
    return re.sub(r"<!--.*?-->\n?", "", svg[svg.index("<svg"):], flags=re.S).replace("&#45;", "-")


def box(vertex, rows, text):
    return '  %s [id="%s", label="%s"];\n' % (vertex, rows, text)


edges = [("fill b%d" % n, "sweep s1 b%d" % b) for b in range(4) for n in (b - 1, b, b + 1) if 0 <= n < 4]
edges += [("sweep s%d b%d" % (s, n), "sweep s%d b%d" % (s + 1, b))
          for s in (1, 2) for b in range(4) for n in (b - 1, b, b + 1) if 0 <= n < 4]
edges += [("sweep s3 b%d" % b, "reduce") for b in range(4)]
index = {t["key"]: k for k, t in enumerate(tasks)}
graph = {
    "svg": drawing("".join(box("c%d" % old, "construct-%d" % construct_row[old], "%s\\n%d task nodes" %
                               (c["label"], constructs[construct_row[old]]["nodes"])) for old, c in enumerate(CONSTRUCTS)),
                   '  c1 -> c0 [label="6"];\n  c0 -> c0 [label="28"];\n  c0 -> c2 [label="4"];\n'),
    "note": "17 task nodes drawn as their constructs.",
    "instances_svg": drawing("".join(box("n%d" % k, "node-%d" % t["row"], "%s\\n%s" % (CONSTRUCTS[t["construct"]]["label"], t["key"]))
                                     for k, t in enumerate(tasks)),
                             "".join("  n%d -> n%d;\n" % (index[a], index[b]) for a, b in edges)),
}

problems = ["sample/001-jacobi/_mvt.2: 1 execution still open at the end of the file"]
notes = ["sample/001-jacobi/_mvt.1: 1 task_end record with no task execution open"]
data = {
    "format": 2,
    "generator": "mvt-trace 0.2.0",
    "run": {"title": "./jacobi --steps 3 --blocks 4", "directories": ["sample/001-jacobi"], "command": ["./jacobi", "--steps", "3", "--blocks", "4"],
            "exit_status": 0, "outcome": "exited with status 0", "origin_utc": "2026-12-06 12:02:33.123456789 UTC",
            "wall_ns": SPAN, "threads": 3, "files": 4, "records": 3230, "problems": problems, "notes": notes},
    "analysis": {
        "wall_ns": SPAN, "threads": 3,
        "processes": [{"directory": "sample/001-jacobi", "files": 4, "threads": 3, "records": 3230}],
        "nodes": nodes, "constructs": constructs,
        "unattached": [dict({"name": "omp_explicit", "process": 0}, **stats([30000] * 120))],
        "tasks_without_dependences": {"executions": 120, "total_ns": 120 * 30000},
        "runtime": runtime,
        "dependency_graph": {"nodes": len(tasks), "edges": len(edges), "edges_complete": True, "executions": len(tasks),
                             "execution_edges": len(edges), "work_ns": work, "span_ns": span,
                             "parallelism": round(work / span, 3), "critical_path": path, "critical_path_by_node": path_by_node},
        "concurrency": concurrency,
        "problems": problems,
        "notes": notes + ["libomp runs the tasks of a taskwait on the waiting thread: a runtime habit, not a problem"],
        "scalability": {"recorded_workers": 2, "predictions": predictions, "doubling_gains_under_5_percent_past": 8},
        "what_if": what_if,
        "nodes_total": len(nodes),
        "constructs_total": len(constructs),
    },
    "timeline": {"span_ns": SPAN, "names": names, "lanes": timeline_lanes, "details": details, "elided": 1200},
    "graph": graph,
    "comparison": comparison,
}

with open(sys.argv[1], "w", encoding="utf-8") as out:
    json.dump(data, out, indent=1, ensure_ascii=False)
    out.write("\n")
