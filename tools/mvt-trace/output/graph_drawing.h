#ifndef MVT_TRACE_OUTPUT_GRAPH_DRAWING_H
#define MVT_TRACE_OUTPUT_GRAPH_DRAWING_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/run_analysis.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

// A predecessor relation as recorded, its ends not resolved: which port an
// edge leaves from and arrives at, which the model's node-to-node edges do
// not keep.
struct recorded_edge {
    std::size_t process = 0;
    trace_id head;
    trace_id tail;
};

struct graph_drawing_options {
    // Ports as cells of their nodes, and the recorded edges between them.
    bool ports = false;
    const std::vector<recorded_edge>* recorded_edges = nullptr;  // needed for ports
    // Nodes drawn at most: the critical path first, then the heaviest.
    std::size_t max_nodes = std::numeric_limits<std::size_t>::max();
    // A line under the drawing that says how many nodes were left out.
    bool caption = true;
};

struct graph_drawing_summary {
    std::size_t nodes = 0;  // the nodes the drawing would show uncapped
    std::size_t drawn = 0;
};

// Gathers the predecessor relations of every process, as recorded.
class recorded_edge_reader : public record_visitor {
public:
    void begin_file(const trace_file& file, std::size_t position) override;
    void record(const trace_record& record) override;
    const std::vector<recorded_edge>& edges() const { return edges_; }

private:
    std::size_t process_ = 0;
    std::vector<recorded_edge> edges_;
};

// Writes the graph the run declared as Graphviz DOT, laid out left to right:
//   - nodes labelled by name (label, else kind), code address in hex and
//     total execution time, filled darker the more time they took; the
//     critical path outlined; each node that ran carries
//     id="node-<its position in run.nodes>";
//   - edges node to node, pass-through vertices and ports resolved;
//   - an OpenMP run compactly: each parallel region one box holding its
//     implicit tasks and the task nodes created in it, the regions in the
//     order they began (invisible edges keep each box to the right of the
//     one before); the region's begin and end nodes and the graph object
//     stay out of sight unless ports are asked for;
//   - any other graph as declared: a node with nodes under it is a box
//     around them.
// Regions whose first execution began at the same time keep the order of
// their declaration.
graph_drawing_summary write_graph_dot(const run_analysis& run, const graph_drawing_options& options,
                                      std::ostream& out);

// "5 of 12 nodes drawn: ..." when the cap left some out, else empty.
std::string graph_cap_note(const graph_drawing_summary& summary);

}  // namespace mvt_trace

#endif
