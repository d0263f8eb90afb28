#ifndef MVT_TRACE_OUTPUT_GRAPH_DRAWING_H
#define MVT_TRACE_OUTPUT_GRAPH_DRAWING_H

#include <cstddef>
#include <limits>
#include <ostream>
#include <string>

#include "analysis/run_analysis.h"

namespace mvt_trace {

struct graph_drawing_options {
    // Ports as cells of their nodes, and edges from port to port.
    bool ports = false;
    // Every task node, however many; otherwise a run with more task nodes
    // than construct_threshold is drawn as its constructs.
    bool instances = false;
    std::size_t construct_threshold = 300;
    // Nodes drawn at most: the critical path first, then the heaviest.
    std::size_t max_nodes = std::numeric_limits<std::size_t>::max();
    // A line under the drawing that says what was left out or merged.
    bool caption = true;
};

struct graph_drawing_summary {
    std::size_t nodes = 0;  // the nodes the drawing would show uncapped
    std::size_t drawn = 0;
    // Drawn as constructs: one box per construct, of this many task nodes.
    bool constructs = false;
    std::size_t instances = 0;
};

// Writes the run's graph as Graphviz DOT, left to right:
//   - nodes named as everywhere else, with their time and number of
//     executions, filled darker the more time they took; the critical path
//     outlined; a node that ran carries id="node-<its row in the analysis's
//     nodes>", a construct id="construct-<its row in the constructs>";
//   - edges node to node, pass-through vertices and ports resolved;
//   - an OpenMP run compactly: each parallel region one box holding the
//     task nodes created in it, the regions in the order they began; its
//     begin and end nodes and the graph object stay out of sight unless
//     ports are asked for;
//   - any other graph as declared: a node with nodes under it is a box
//     around them;
//   - past construct_threshold task nodes, one box per construct with the
//     edges between constructs weighted by how many there are, so that
//     Graphviz lays out a run of thousands of tasks in seconds.
// The text grows linearly with the graph, however deep its nesting.
graph_drawing_summary write_graph_dot(const run_analysis& run, const graph_drawing_options& options,
                                      std::ostream& out);

// "5 of 12 nodes drawn: ..." or "2,560 task nodes drawn as 3 constructs ..."
// when the drawing is not every node, else empty.
std::string graph_cap_note(const graph_drawing_summary& summary);

}  // namespace mvt_trace

#endif
