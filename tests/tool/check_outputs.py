#!/usr/bin/env python3
"""Structural checks of mvt-trace's JSON and SVG output for data/openmp_run.

usage: check_outputs.py chrome FILE.json | timeline FILE.svg
Exits 1 with the first problem found (an AssertionError), or 0.
"""
import collections
import json
import sys
import xml.etree.ElementTree as ET


def check_chrome(path):
    events = json.load(open(path, encoding="utf-8"))["traceEvents"]
    threads, flows, complete = {}, collections.defaultdict(list), collections.Counter()
    for e in events:
        assert all(key in e for key in ("ph", "pid", "tid")), e
        if e["ph"] == "M" and e["name"] == "thread_name":
            threads[e["tid"]] = e["args"]["name"]
        elif e["ph"] == "X":
            assert all(isinstance(e[k], (int, float)) and e[k] >= 0 for k in ("ts", "dur")), e
            complete[(e["tid"], e["cat"], e["name"])] += 1
        elif e["ph"] in ("s", "f"):
            flows[e["id"]].append(e)
    assert threads == {0: "_mvt.0", 1: "_mvt.1", 2: "_mvt.2"}, threads
    assert complete == {
        (0, "task", "omp_parallel"): 1, (0, "task", "omp_implicit"): 1, (0, "task", "omp_barrier"): 1,
        (0, "region", "setup"): 1, (1, "task", "omp_implicit"): 1, (1, "task", "omp_barrier"): 1,
        (1, "task", "omp_explicit"): 2}, complete
    # Every flow has one start and one end, the start not after the end.
    kinds = []
    for ends in flows.values():
        start, finish = sorted(ends, key=lambda e: e["ph"], reverse=True)
        assert (start["ph"], finish["ph"]) == ("s", "f") and start["ts"] <= finish["ts"], ends
        kinds.append(start["name"])
    assert sorted(kinds) == ["is_child_of", "is_child_of", "is_predecessor_to"], kinds
    first = min((e for e in events if e["ph"] == "X" and e["name"] == "omp_explicit"), key=lambda e: e["ts"])
    assert first["args"].get("note") == 'first line\nsecond <b> & "q"', first["args"]
    assert first["args"].get("code_address") == 94812345612345, first["args"]


def check_timeline(path):
    ns = "{http://www.w3.org/2000/svg}"
    root = ET.parse(path).getroot()
    assert root.tag == ns + "svg", root.tag
    colours = collections.defaultdict(set)
    for r in root.iter(ns + "rect"):
        if r.find(ns + "title") is not None:
            assert float(r.get("width")) > 0, "empty bar"
            colours[r.find(ns + "title").text.split(" ")[0]].add(r.get("fill"))
    counts = collections.Counter(r.find(ns + "title").text.split(" ")[0]
                                 for r in root.iter(ns + "rect") if r.find(ns + "title") is not None)
    assert counts == {"omp_parallel": 1, "omp_implicit": 2, "omp_barrier": 2, "omp_explicit": 2, "setup": 1}, counts
    # The region is drawn as one, see-through with an outline.
    region = [r for r in root.iter(ns + "rect") if r.find(ns + "title") is not None and "region" in r.find(ns + "title").text]
    assert len(region) == 1 and region[0].get("fill-opacity") and region[0].get("stroke"), region
    # One colour per name, and no colour for two names.
    assert all(len(c) == 1 for c in colours.values()), colours
    assert len(set.union(*colours.values())) == len(colours), colours
    texts = [t.text for t in root.iter(ns + "text")]
    # Lanes are the threads that recorded: _mvt.2 holds no record of the program.
    for label in ("thread 0", "_mvt.0", "thread 1", "_mvt.1", "omp_explicit", "0", "+1 ms"):
        assert label in texts, (label, texts)
    assert "_mvt.2" not in texts and "thread 2" not in texts, texts
    # Names are written inside the bars wide enough for them.
    assert texts.count("omp_parallel") == 2 and texts.count("omp_explicit") >= 2, texts


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("chrome", "timeline"):
        sys.exit(__doc__)
    try:
        (check_chrome if sys.argv[1] == "chrome" else check_timeline)(sys.argv[2])
    except AssertionError as problem:
        sys.exit("check failed: %r" % (problem,))
