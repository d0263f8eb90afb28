#ifndef MVT_TRACE_CRITICAL_PATH_H
#define MVT_TRACE_CRITICAL_PATH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/run_model.h"

namespace mvt_trace {

// What the dependency graph allows: every node joined by an edge weighs its
// total execution time. Work is the sum of the weights, span the heaviest
// path, parallelism work / span: the speedup that no number of threads could
// beat with these dependences and these durations.
//
// A flow graph may loop: the nodes of each strongly connected group are
// condensed into one vertex that weighs their sum, and a path through the
// group lists its nodes in declaration order.
struct dependency_summary {
    std::vector<std::size_t> nodes;  // positions in the model's objects, ascending
    std::size_t edges = 0;
    // False when the model could not expand every edge through pass-through
    // vertices (run_model::edges_complete): `edges` is then a lower bound;
    // the nodes, work, span and critical path are exact all the same.
    bool edges_complete = true;
    std::uint64_t work = 0;
    std::uint64_t span = 0;
    double parallelism = 0;  // 0 when span is 0
    std::vector<std::size_t> critical_path;  // positions, from first to last
    // Groups of more than one node condensed, and the nodes they hold.
    std::size_t condensed_cycles = 0;
    std::size_t nodes_in_cycles = 0;
};

// weight[i]: the total execution time of object i (0 for objects that are
// not nodes or never ran).
dependency_summary summarize_dependencies(const std::vector<node_edge>& edges,
                                          const std::vector<std::uint64_t>& weight);
// The same over a graph with vertices (see vertex_graph) among `objects`
// objects; `edges` is left for the caller.
dependency_summary summarize_dependencies(const vertex_graph& graph, std::size_t objects,
                                          const std::vector<std::uint64_t>& weight);
// The model's dependency graph: from its edges, or from its graph with
// vertices when the edges are not complete.
dependency_summary summarize_dependencies(const run_model& model, const std::vector<std::uint64_t>& weight);

}  // namespace mvt_trace

#endif
