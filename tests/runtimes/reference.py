#!/usr/bin/env python3
"""What a trace directory should analyse to, worked out from the raw files
with nothing shared with mvt-trace: its own reader, its own replay of the
task executions, its own dependence rules.

    reference.py openmp DIR   task-node edges by OpenMP's ordering rule,
                              the span of that DAG, explicit-task totals
    reference.py flow DIR     flow-graph nodes with their executions, and
                              work and span of the graph of executions

prints one JSON object. Standard library only."""

import heapq
import json
import os
import sys

RELATION_IS_CHILD_OF = 5
RELATION_IS_PREDECESSOR_TO = 7


# --- reading ---------------------------------------------------------------

def read_records(path):
    """The records of one file as lists of fields: text, or a 3-tuple of
    ints for an identifier. Deliberately plain: one field per line."""
    records, record, compound = [], None, None
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line == "<record>":
                record = []
            elif line == "</record>":
                records.append(record)
                record = None
            elif line == "<compound_field>":
                compound = []
            elif line == "</compound_field>":
                record.append(tuple(compound))
                compound = None
            elif line.startswith("<field>") and line.endswith("</field>"):
                text = line[len("<field>"):-len("</field>")]
                if compound is not None:
                    compound.append(int(text))
                else:
                    record.append(text)
    return records


class Trace:
    def __init__(self, directory):
        names = sorted((n for n in os.listdir(directory) if n.startswith("_mvt.")), key=lambda n: int(n[5:]))
        self.files = [read_records(os.path.join(directory, n)) for n in names]
        self.text = {}  # address of a domain or string handle -> its string
        for records in self.files:
            for r in records:
                if r[0] in ("domain_createA", "string_handle_createA"):
                    self.text[int(r[2])] = r[4]

    def records(self):
        """(file, index, record) of every record, file by file."""
        for k, records in enumerate(self.files):
            for i, r in enumerate(records):
                yield k, i, r

    def timeline(self):
        """(file, record) of every record in the order they were written:
        the files merged by timestamp, each file keeping its own order."""
        def stream(k):
            for r in self.files[k]:
                yield int(r[1]), k, r
        for _, k, r in heapq.merge(*(stream(k) for k in range(len(self.files))), key=lambda x: (x[0], x[1])):
            yield k, r

    def name(self, field):
        return self.text.get(int(field), "")


def id_text(i):
    return "%d.%d.%d" % i


# --- executions --------------------------------------------------------------

class Execution:
    def __init__(self, ident, name, domain, file, begin):
        self.id, self.name, self.domain, self.file = ident, name, domain, file
        self.begin, self.end = begin, None
        self.busy, self.running_since, self.pieces, self.threads = 0, None, 0, set()
        self.spans = []  # (from, to) of each piece

    def run(self, ts, thread):
        if self.running_since is None:
            self.running_since = ts
            self.pieces += 1
            self.threads.add(thread)

    def pause(self, ts):
        if self.running_since is not None:
            self.busy += ts - self.running_since
            self.spans.append((self.running_since, ts))
            self.running_since = None


def replay(trace):
    """Every task execution, from task_begin and task_end alone.

    A thread runs the execution on top of its stack; one begun above another
    switches that one out until it is on top again. An OpenMP task id names
    one task for its whole life, so beginning an id that is still open is the
    task resuming (on this thread, or on another after migrating); the
    executions above it on this thread stay open, switched out. Flow-graph
    bodies reuse their id for every execution, so there each begin is new."""
    stacks = [[] for _ in trace.files]
    open_tasks = {}  # OpenMP id -> its open execution
    executions = []
    for k, r in trace.timeline():
        stack = stacks[k]
        if r[0] == "task_begin":
            ts, domain, ident, name = int(r[1]), trace.name(r[2]), r[3], trace.name(r[5])
            if stack:
                stack[-1].pause(ts)
            resumed = open_tasks.get(ident) if domain == "openmp" else None
            if resumed is not None and resumed in stack:
                del stack[stack.index(resumed) + 1:]
            else:
                if resumed is not None:
                    for thread, other in enumerate(stacks):
                        if resumed in other:
                            was_top = other[-1] is resumed
                            resumed.pause(ts)
                            other.remove(resumed)
                            if was_top and other:
                                other[-1].run(ts, thread)
                else:
                    resumed = Execution(ident, name, domain, k, ts)
                    executions.append(resumed)
                    if domain == "openmp":
                        open_tasks[ident] = resumed
                stack.append(resumed)
            resumed.run(ts, k)
        elif r[0] == "task_end":
            ts = int(r[1])
            if not stack:  # the end of a task whose begin was never traced
                continue
            done = stack.pop()
            done.pause(ts)
            done.end = ts
            if open_tasks.get(done.id) is done:
                del open_tasks[done.id]
            if stack:
                stack[-1].run(ts, k)
    return executions


def longest_path(order, weight, preds):
    """Heaviest path through a DAG whose nodes come in topological order."""
    best = {}
    for n in order:
        best[n] = weight[n] + max((best[p] for p in preds.get(n, ())), default=0)
    return max(best.values(), default=0)


def concurrency(trace, executions):
    """How long 0, 1, 2... threads were busy with these executions at once,
    over the run: from the first record of any file to the last."""
    stamps = [int(r[1]) for records in trace.files for r in records]
    first, last = min(stamps), max(stamps)
    changes = sorted([(a, 1) for e in executions for a, _ in e.spans] + [(b, -1) for e in executions for _, b in e.spans])
    time_at, busy, since = {}, 0, first
    for ts, step in changes:
        time_at[busy] = time_at.get(busy, 0) + ts - since
        busy, since = busy + step, ts
    time_at[busy] = time_at.get(busy, 0) + last - since
    return {"wall_ns": last - first, "time_at_ns": {str(k): v for k, v in sorted(time_at.items()) if v > 0},
            "max": max((k for k, v in time_at.items() if v > 0), default=0)}


# --- OpenMP ------------------------------------------------------------------

def openmp(trace):
    # Task nodes {T,1,0}: declared under the task that created them.
    created = []  # (timestamp, file, index, T, parent)
    for k, i, r in trace.records():
        if r[0] == "task_group" and trace.name(r[2]) == "openmp" and trace.name(r[5]) == "node" and r[3][1] == 1:
            created.append((int(r[1]), k, i, r[3][0], r[4]))
    created.sort()
    reads, writes = {}, {}
    nodes = {c[3] for c in created}
    for _, _, r in trace.records():
        if r[0] != "relation" or trace.name(r[2]) != "openmp" or int(r[4]) != RELATION_IS_PREDECESSOR_TO:
            continue
        head, tail = r[3], r[5]
        if head[1] == 1 and head[0] in nodes:
            writes.setdefault(head[0], set()).add(tail[0])
        elif tail[1] == 1 and tail[0] in nodes:
            reads.setdefault(tail[0], set()).add(head[0])

    # OpenMP's rule among siblings in creation order; an address a task both
    # reads and writes counts as written.
    last_out, ins_since = {}, {}  # (parent, address) -> task / tasks
    preds = {}
    for _, _, _, t, parent in created:
        mine = preds.setdefault(t, set())
        w = writes.get(t, set())
        for v in reads.get(t, set()) - w:
            key = (parent, v)
            if key in last_out:
                mine.add(last_out[key])
            ins_since.setdefault(key, []).append(t)
        for v in w:
            key = (parent, v)
            if key in last_out:
                mine.add(last_out[key])
            mine.update(ins_since.get(key, []))
            last_out[key] = t
            ins_since[key] = []
        mine.discard(t)

    files_of_group = {}
    for _, k, _, _, parent in created:
        files_of_group.setdefault(parent, set()).add(k)
    groups_of = {}
    for _, _, _, t, parent in created:
        for v in reads.get(t, set()) | writes.get(t, set()):
            groups_of.setdefault(v, set()).add(parent)

    code_address = {}
    for _, _, r in trace.records():
        if r[0] == "metadata" and trace.name(r[2]) == "openmp" and trace.name(r[4]) == "code_address":
            code_address[r[3][0]] = int(r[7])

    executions = replay(trace)
    explicit = [e for e in executions if e.name == "omp_explicit"]
    ended = [e for e in explicit if e.end is not None]
    duration = {e.id[0]: e.busy for e in ended if e.id[0] in nodes}
    others = [e for e in ended if e.id[0] not in nodes]
    order = [c[3] for c in created]
    weight = {t: duration.get(t, 0) for t in order}
    return {
        "task_nodes": {id_text((t, 1, 0)): {"total_ns": duration.get(t), "code_address": "0x%x" % code_address[t]}
                       for t in order},
        "edges": sorted([id_text((p, 1, 0)), id_text((t, 1, 0))] for t in order for p in preds[t]),
        "work_ns": sum(weight.values()),
        "span_ns": longest_path(order, weight, preds),
        "task_nodes_never_begun": sum(t not in duration for t in order),
        "addresses_in_several_groups": sum(len(g) > 1 for g in groups_of.values()),
        "groups_created_from_several_threads": sum(len(f) > 1 for f in files_of_group.values()),
        "without_dependences": {"executions": len(others), "total_ns": sum(e.busy for e in others)},
        "explicit_open_at_end": sum(e.end is None for e in explicit),
        "explicit_pieces": sum(e.pieces for e in explicit),
        "explicit_on_several_threads": sum(len(e.threads) > 1 for e in explicit),
        "task_concurrency": concurrency(trace, ended),
    }


# --- flow graphs -----------------------------------------------------------

def flow(trace):
    declared = {}  # id -> (parent, kind): the last declaration wins
    child_of = {}  # body id -> node id
    links = []  # (output port, input port)
    names = {}
    for _, _, r in trace.records():
        if r[0] == "metadata_stringA" and trace.name(r[4]) == "object_name":
            names[r[3]] = r[6]
        elif r[0] == "task_group":
            declared[r[3]] = (r[4], trace.name(r[5]))
        elif r[0] == "relation" and int(r[4]) == RELATION_IS_CHILD_OF:
            child_of[r[3]] = r[5]
        elif r[0] == "relation" and int(r[4]) == RELATION_IS_PREDECESSOR_TO:
            links.append((r[3], r[5]))
    graphs = {i for i, (_, kind) in declared.items() if kind == "graph"}
    nodes = {i: kind for i, (parent, kind) in declared.items() if parent in graphs}
    owner = dict((i, i) for i in nodes)
    for i, (parent, kind) in declared.items():
        if parent in nodes and (kind.startswith("input_port") or kind.startswith("output_port")):
            owner[i] = parent
    for body, node in child_of.items():
        if node in nodes:
            owner[body] = node
    succs = {}
    for out, into in links:
        if out in owner and into in owner:
            succs.setdefault(owner[out], set()).add(owner[into])

    executions = replay(trace)
    runs = [e for e in executions if e.end is not None and e.id in owner]
    by_node = {}
    for e in runs:
        by_node.setdefault(owner[e.id], []).append(e)

    # The nodes that run before each node, looking through those that never
    # run (buffers, limiters, sequencers).
    preds = {}
    for n in nodes:
        for s in succs.get(n, ()):
            preds.setdefault(s, set()).add(n)

    def running_preds(n):
        found, seen, todo = set(), set(), list(preds.get(n, ()))
        while todo:
            p = todo.pop()
            if p in seen:
                continue
            seen.add(p)
            if p in by_node:
                found.add(p)
            else:
                todo.extend(preds.get(p, ()))
        return found

    ordered = sorted(runs, key=lambda e: (e.begin, e.end))
    index = {id(e): k for k, e in enumerate(ordered)}
    depends = {}
    for k, e in enumerate(ordered):
        mine = set()
        for p in running_preds(owner[e.id]):
            before = [d for d in by_node[p] if d.end <= e.begin and d is not e]
            if before:
                latest = max(before, key=lambda d: (d.end, d.begin))
                mine.add(index[id(latest)])
        depends[k] = mine
    weight = {k: e.busy for k, e in enumerate(ordered)}
    return {
        "nodes": {id_text(n): {"kind": kind, "name": names.get(n, kind), "executions": len(by_node.get(n, [])),
                               "total_ns": sum(e.busy for e in by_node.get(n, []))} for n, kind in nodes.items()},
        "edges": sorted([id_text(a), id_text(b)] for a in succs for b in succs[a]),
        "executions": len(ordered),
        "execution_edges": sum(len(d) for d in depends.values()),
        "work_ns": sum(weight.values()),
        "span_ns": longest_path(range(len(ordered)), weight, depends),
        "task_concurrency": concurrency(trace, ordered),
    }


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("openmp", "flow"):
        sys.exit(__doc__)
    trace = Trace(sys.argv[2])
    result = openmp(trace) if sys.argv[1] == "openmp" else flow(trace)
    json.dump(result, sys.stdout, indent=1, sort_keys=True)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
