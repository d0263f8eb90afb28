#!/usr/bin/env python3
"""Structural checks of mvt-trace's JSON, SVG and HTML output.

usage: check_outputs.py chrome FILE.json | timeline FILE.svg    (of data/openmp_run)
       check_outputs.py report FILE.html | report-without-dot FILE.html | report-capped FILE.html
                                                  (of data/openmp_run)
       check_outputs.py report-open FILE.html    (of the trace commands_test writes)
Exits 1 with the first problem found (an AssertionError), or 0.
"""
import collections
import json
import re
import shutil
import sys
import xml.etree.ElementTree as ET


def check_chrome(path):
    events = json.load(open(path, encoding="utf-8"))["traceEvents"]
    names = {(e["pid"], e["tid"], e["name"]): e["args"] for e in events if e["ph"] == "M"}
    assert names[(1, 0, "process_name")] == {"name": "openmp_run"}, names
    threads = {tid: args["name"] for (pid, tid, kind), args in names.items() if kind == "thread_name"}
    # _mvt.2 holds no record of the program: no thread.
    assert threads == {0: "thread 0 (_mvt.0)", 1: "thread 1 (_mvt.1)"}, threads
    timed = [e for e in events if e["ph"] != "M"]
    assert [e["ts"] for e in timed] == sorted(e["ts"] for e in timed), "events in time order"
    # Replayed as a viewer would: a flow binds to the innermost slice that
    # encloses it on its thread, a flow's end ("bp": "e") to one that
    # begins there.
    slices = [e for e in timed if e["ph"] == "X"]
    flows, regions = collections.defaultdict(dict), {}
    for e in timed:
        if e["ph"] in ("b", "e"):
            regions.setdefault(e["id"], []).append(e)
        elif e["ph"] in ("s", "f"):
            assert e["ph"] == "s" or e.get("bp") == "e", e
            around = [x for x in slices if (x["pid"], x["tid"]) == (e["pid"], e["tid"]) and
                      x["ts"] <= e["ts"] < x["ts"] + max(x["dur"], 0.001)]
            assert around, ("a flow with nothing to bind to", e)
            flows[e["id"]][e["ph"]] = (e, max(around, key=lambda x: x["ts"]))
    counts = collections.Counter((s["tid"], s["name"]) for s in slices)
    assert counts == {(0, "parallel region at 0x563b382e0800"): 1, (0, "omp_implicit"): 1, (0, "omp_barrier"): 1,
                      (1, "omp_implicit"): 1, (1, "omp_barrier"): 1, (1, 'first line\nsecond <b> & "q"'): 1,
                      (1, "0x563b382e3870"): 1}, counts
    assert [[r["ph"] for r in pair] for pair in regions.values()] == [["b", "e"]], regions
    # The one dependency, 7.1 -> 10.1, with both its ends: from the end of
    # the first task's slice (inside it) to the start of the second's.
    assert len(flows) == 1 and set(flows[1]) == {"s", "f"}, flows
    (start, source), (finish, target) = flows[1]["s"], flows[1]["f"]
    assert source["args"]["node_id"] == "7.1.0", source
    assert source["ts"] + source["dur"] - start["ts"] < 0.0015, "at the end of its slice"
    assert target["args"]["node_id"] == "10.1.0" and finish["ts"] == target["ts"], (finish, target)
    first = source["args"]
    assert first["metadata.note"] == 'first line\nsecond <b> & "q"', first
    assert first["code_address"] == "0x563b382e3839" and first["id"] == "7.0.0", first


def check_timeline(path):
    ns = "{http://www.w3.org/2000/svg}"
    root = ET.parse(path).getroot()
    assert root.tag == ns + "svg", root.tag
    bars = [(r, r.find(ns + "title").text) for r in root.iter(ns + "rect") if r.find(ns + "title") is not None]
    colours = collections.defaultdict(set)
    for r, title in bars:
        assert float(r.get("width")) > 0, "empty bar"
        colours[title.split(" ")[0]].add(r.get("fill"))
    counts = collections.Counter(title.split(" ")[0] for _, title in bars)
    assert counts == {"parallel": 1, "omp_implicit": 2, "omp_barrier": 2, "first": 1, "0x563b382e3870": 1,
                      "setup": 1}, counts
    # The region is drawn as one, see-through with an outline.
    region = [r for r, title in bars if title.startswith("setup region")]
    assert len(region) == 1 and region[0].get("fill-opacity") and region[0].get("stroke"), region
    # One colour per name, and no colour for two names.
    assert all(len(c) == 1 for c in colours.values()), colours
    assert len(set.union(*colours.values())) == len(colours), colours
    texts = [t.text for t in root.iter(ns + "text")]
    # Lanes are the threads that recorded: _mvt.2 holds no record of the program.
    for label in ("thread 0", "_mvt.0", "thread 1", "_mvt.1", "0x563b382e3870", "0", "+1 ms"):
        assert label in texts, (label, texts)
    assert "_mvt.2" not in texts and "thread 2" not in texts, texts
    # Names are written inside the bars wide enough for them.
    assert texts.count("parallel region at 0x563b382e0800") == 2 and texts.count("0x563b382e3870") >= 2, texts


def report_data(path):
    """The page's data object, checked against what the page relies on."""
    html = open(path, encoding="utf-8").read()
    scripts = re.findall(r'<script type="application/json" id="mvt-data">(.*?)</script>', html, re.S)
    assert len(scripts) == 1, "one data element"
    assert "http://" not in html.replace("http://www.w3.org", "") and "https://" not in html, "nothing fetched"
    d = json.loads(scripts[0])
    assert d["format"] == 2 and set(d) >= {"run", "analysis", "timeline", "graph"}, sorted(d)
    t = d["timeline"]
    for lane in t["lanes"]:
        for kind in ("tasks", "regions"):
            g = lane[kind]
            assert len({len(g[k]) for k in "bednx"}) == 1, (lane["label"], kind)
            bars = list(zip(g["b"], g["e"], g["d"], g["n"], g["x"]))
            assert bars == sorted(bars, key=lambda b: (b[2], b[0])), (lane["label"], kind, "sorted by row, then time")
            for (b0, e0, d0, *_), (b1, e1, d1, *_) in zip(bars, bars[1:]):
                assert d0 != d1 or e0 <= b1, (lane["label"], kind, "bars of a row overlap")
            for b, e, row, n, x in bars:
                assert 0 <= b <= e <= t["span_ns"] and 0 <= n < len(t["names"]) and -1 <= x < len(t["details"])
                assert row < (lane["region_rows"] if kind == "regions" else lane["rows"] - lane["region_rows"])
        assert all(0 <= i < len(lane["tasks"]["b"]) for i in lane["open"])
        assert sum(lane["blocks"]["c"]) <= t["elided"]
    # The lists keep each row in its place: what the drawings and the
    # timeline point at is there.
    a = d["analysis"]
    nodes, constructs = a["nodes"], a["constructs"]
    assert len(nodes) <= a["nodes_total"] and len(constructs) <= a["constructs_total"], (a["nodes_total"], a["constructs_total"])
    assert nodes[-1:] != [None] and constructs[-1:] != [None], "no nulls after the last row kept"
    for svg in (d["graph"]["svg"], d["graph"]["instances_svg"]):
        for kind, k in re.findall(r'<g id="(node|construct)-(\d+)"', svg or ""):
            rows = nodes if kind == "node" else constructs
            assert int(k) < len(rows) and rows[int(k)] is not None, (kind, k)
    for x in t["details"]:
        assert x["node"] < a["nodes_total"], x
    return d


def executions(d):
    t = d["timeline"]
    for lane in t["lanes"]:
        for kind in ("tasks", "regions"):
            g = lane[kind]
            for i in range(len(g["b"])):
                yield lane, kind, i, t["names"][g["n"][i]], g["e"][i] - g["b"][i], g["x"][i]


def check_report(path, drawn=None):
    d = report_data(path)
    run, t, a = d["run"], d["timeline"], d["analysis"]
    assert (run["title"], run["threads"], run["files"], run["records"], run["wall_ns"]) == ("openmp_run", 2, 3, 69, 5000000), run
    assert run["origin_utc"] == "2026-12-04 01:30:52.000000000 UTC", run
    # What libomp does at exit (an end with nothing open) is no problem.
    assert run["problems"] == [], run
    assert run["notes"][:2] == ["openmp_run/_mvt.%d: 1 task_end record with no task execution open" % k
                                for k in (0, 1)], run
    assert [(n["id"], n["executions"]) for n in a["nodes"]] == [("10.1.0", 1), ("7.1.0", 1)], a["nodes"]
    assert [r.get("label", r["name"]) for r in a["runtime"]] == ["parallel region at 0x563b382e0800", "omp_implicit",
                                                "omp_barrier"], a["runtime"]
    assert [step["id"] for step in a["dependency_graph"]["critical_path"]] == ["7.1.0", "10.1.0"], a
    assert [(l["label"], l["file"], l["rows"], l["region_rows"]) for l in t["lanes"]] == [
        ("thread 0", "openmp_run/_mvt.0", 3, 1), ("thread 1", "openmp_run/_mvt.1", 2, 0)], t["lanes"]
    seen = collections.Counter((lane["label"], kind, name) for lane, kind, _, name, _, _ in executions(d))
    note = 'first line\nsecond <b> & "q"'
    assert seen == {("thread 0", "regions", "setup"): 1,
                    ("thread 0", "tasks", "parallel region at 0x563b382e0800"): 1,
                    ("thread 0", "tasks", "omp_implicit"): 1, ("thread 0", "tasks", "omp_barrier"): 1,
                    ("thread 1", "tasks", "omp_implicit"): 1, ("thread 1", "tasks", "omp_barrier"): 1,
                    ("thread 1", "tasks", note): 1, ("thread 1", "tasks", "0x563b382e3870"): 1}, seen
    # A click on a bar leads to its node's row: the explicit task 7 to node 7.1.
    explicit = [t["details"][x] for _, _, _, name, _, x in executions(d) if name == note]
    assert explicit[0] == {"id": "7.0.0", "parent": "0.0.0", "node": 1, "name": "omp_explicit", "busy_ns": 400000,
                           "pieces": 1, "metadata": {"code_address": "0x563b382e3839", "note": note}}, explicit
    implicit = [t["details"][x] for lane, _, _, name, _, x in executions(d) if name == "omp_implicit"]
    assert all(i["node"] == -1 for i in implicit) and t["elided"] == 0, implicit
    check_graph(d, shutil.which("dot") is not None if drawn is None else drawn)


def check_graph(d, drawn):
    """Graphviz's drawing, each node that ran a <g id="node-K"> tied to analysis.nodes[K]."""
    graph = d["graph"]
    if not drawn:
        assert graph["svg"] is None and "dot" in graph["note"], graph
        return
    svg = ET.fromstring(graph["svg"])
    ns = "{http://www.w3.org/2000/svg}"
    ids = {g.get("id") for g in svg.iter(ns + "g") if g.get("class") == "node"}
    assert ids == {"node-%d" % k for k in range(len(d["analysis"]["nodes"]))}, ids
    assert "<!--" not in graph["svg"] and graph["svg"].startswith("<svg"), graph["svg"][:80]
    clusters = [g.find(ns + "text").text for g in svg.iter(ns + "g") if g.get("class") == "cluster"]
    assert clusters == ["region 1: parallel region at 0x563b382e0800 \u00b7 3.533 ms"], clusters


def check_report_capped(path):
    """--max-executions 3: the three longest are embedded, the rest counted in blocks."""
    d = report_data(path)
    t = d["timeline"]
    kept = sorted(duration for *_, duration, _ in executions(d))
    assert len(kept) == 3 and t["elided"] == 5, (kept, t["elided"])
    assert kept == [1521200, 2021200, 3532500], kept
    assert sum(sum(l["blocks"]["c"]) for l in t["lanes"]) == 5


def check_report_open(path):
    d = report_data(path)
    run, lane = d["run"], d["timeline"]["lanes"][0]
    assert run["title"] == "./prog 'two words'" and run["exit_status"] == 3 and run["command"] == ["./prog", "two words"], run
    names = d["timeline"]["names"]
    open_tasks = sorted(names[lane["tasks"]["n"][i]] for i in lane["open"])
    open_regions = [names[lane["regions"]["n"][i]] for i in lane["open_regions"]]
    assert open_tasks == ["inner", "outer"] and open_regions == ["late"], (open_tasks, open_regions)
    # Two regions that overlap without nesting take two rows.
    assert lane["region_rows"] == 2 and sorted(lane["regions"]["d"]) == [0, 0, 1], lane["regions"]


if __name__ == "__main__":
    checks = {"chrome": check_chrome, "timeline": check_timeline, "report": check_report,
              "report-without-dot": lambda path: check_report(path, drawn=False),
              "report-capped": check_report_capped, "report-open": check_report_open}
    if len(sys.argv) != 3 or sys.argv[1] not in checks:
        sys.exit(__doc__)
    try:
        checks[sys.argv[1]](sys.argv[2])
    except AssertionError as problem:
        sys.exit("check failed: %r" % (problem,))
