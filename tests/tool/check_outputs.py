#!/usr/bin/env python3
"""Structural checks of mvt-trace's JSON and SVG output, run by the tests.

usage: check_outputs.py chrome FILE.json | timeline FILE.svg
Prints what is wrong and exits 1, or exits 0.
"""
import collections
import json
import sys
import xml.etree.ElementTree as ET


def fail(message):
    print(message)
    sys.exit(1)


def check_chrome(path):
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    events = doc.get("traceEvents")
    if not isinstance(events, list):
        fail("no traceEvents list")
    threads = {}
    complete = collections.Counter()
    flows = collections.defaultdict(list)
    for e in events:
        for key in ("ph", "pid", "tid"):
            if key not in e:
                fail("event without %s: %r" % (key, e))
        if e["ph"] == "M" and e["name"] == "thread_name":
            threads[e["tid"]] = e["args"]["name"]
        elif e["ph"] == "X":
            if not isinstance(e["ts"], (int, float)) or not isinstance(e["dur"], (int, float)):
                fail("complete event without numeric ts/dur: %r" % e)
            if e["ts"] < 0 or e["dur"] < 0:
                fail("negative time: %r" % e)
            complete[(e["tid"], e["cat"], e["name"])] += 1
        elif e["ph"] in ("s", "f"):
            flows[e["id"]].append(e)
    expected_threads = {0: "_mvt.0", 1: "_mvt.1", 2: "_mvt.2"}
    if threads != expected_threads:
        fail("thread names %r" % threads)
    expected = {
        (0, "task", "omp_parallel"): 1, (0, "task", "omp_implicit"): 1, (0, "task", "omp_barrier"): 1,
        (0, "region", "setup"): 1, (1, "task", "omp_implicit"): 1, (1, "task", "omp_barrier"): 1,
        (1, "task", "omp_explicit"): 2,
    }
    if dict(complete) != expected:
        fail("complete events %r" % dict(complete))
    # Every flow has one start and one end, the start not after the end.
    for flow_id, ends in flows.items():
        phases = sorted(e["ph"] for e in ends)
        if phases != ["f", "s"]:
            fail("flow %r has ends %r" % (flow_id, phases))
        start = next(e for e in ends if e["ph"] == "s")
        finish = next(e for e in ends if e["ph"] == "f")
        if start["ts"] > finish["ts"]:
            fail("flow %r runs backwards" % flow_id)
    kinds = sorted(next(e for e in ends if e["ph"] == "s")["name"] for ends in flows.values())
    if kinds != ["is_child_of", "is_child_of", "is_predecessor_to"]:
        fail("flow kinds %r" % kinds)
    explicit = [e for e in events if e["ph"] == "X" and e["name"] == "omp_explicit"]
    first = min(explicit, key=lambda e: e["ts"])
    if first["args"].get("note") != 'first line\nsecond <b> & "q"':
        fail("metadata text lost: %r" % first["args"])
    if first["args"].get("code_address") != 94812345612345:
        fail("metadata value lost: %r" % first["args"])


def check_timeline(path):
    root = ET.parse(path).getroot()
    ns = "{http://www.w3.org/2000/svg}"
    if root.tag != ns + "svg":
        fail("root is %s" % root.tag)
    bars = [r for r in root.iter(ns + "rect") if r.find(ns + "title") is not None]
    names = collections.Counter(r.find(ns + "title").text.split(" ")[0] for r in bars)
    if dict(names) != {"omp_parallel": 1, "omp_implicit": 2, "omp_barrier": 2, "omp_explicit": 2}:
        fail("bars %r" % dict(names))
    colours = {}
    for r in bars:
        name = r.find(ns + "title").text.split(" ")[0]
        if colours.setdefault(name, r.get("fill")) != r.get("fill"):
            fail("%s drawn in two colours" % name)
        if float(r.get("width")) <= 0:
            fail("empty bar")
    if len(set(colours.values())) != len(colours):
        fail("two names share a colour")
    texts = [t.text for t in root.iter(ns + "text")]
    for label in ("_mvt.0", "_mvt.1", "_mvt.2", "omp_explicit", "0", "+1 ms"):
        if label not in texts:
            fail("no text %r in %r" % (label, texts))


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("chrome", "timeline"):
        fail(__doc__)
    (check_chrome if sys.argv[1] == "chrome" else check_timeline)(sys.argv[2])
