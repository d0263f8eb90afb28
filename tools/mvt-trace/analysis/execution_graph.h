#ifndef MVT_TRACE_EXECUTION_GRAPH_H
#define MVT_TRACE_EXECUTION_GRAPH_H

#include <cstdint>
#include <vector>

#include "common/compressed_rows.h"
#include "model/trace_model.h"

namespace mvt_trace {

// The graph of executions: what limits a run's speed is which execution
// waited for which, not which node waited for which. A node of a streaming
// graph runs many times, and its executions overlap those of other nodes;
// summed up per node they make a path longer than the run.
//
// Its vertices are the executions of nodes (trace_model::execution_role::
// task) that ended. Each execution of a node depends, for each predecessor node, on
// that node's latest execution to end before it began. A predecessor that
// never runs (a queue, a limiter) is looked through to the nodes before it.
// For nodes that run once, as OpenMP's tasks do, this is the node graph.
//
// Every edge goes from an execution that ended before the other began, so
// the graph has no cycle even where the node graph loops, and a path through
// it fits in the run: its span is at most the wall time.
struct execution_graph {
    // The executions in the graph, by model position, in an order that puts
    // every execution after those it depends on (by begin, then position).
    std::vector<std::uint32_t> members;
    // By place in `members`: the places of the executions it depends on.
    compressed_rows predecessors;

    std::size_t edges() const { return predecessors.targets.size(); }
};

execution_graph build_execution_graph(const trace_model& model);

// Work, span and the critical path of a graph of executions whose
// durations are given by place in `members`.
struct path_summary {
    std::uint64_t work = 0;   // the sum of the durations
    std::uint64_t span = 0;   // the longest path's
    double parallelism = 0;   // work / span; 0 when span is 0
    // The longest path, first to last, as places in `members`.
    std::vector<std::uint32_t> critical_path;
};

path_summary longest_path(const execution_graph& graph, const std::vector<std::uint64_t>& durations);

// Each execution's duration in the graph: the time its pieces took.
std::vector<std::uint64_t> recorded_durations(const trace_model& model, const execution_graph& graph);

}  // namespace mvt_trace

#endif
