#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_ANALYSIS_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_ANALYSIS_H

#include <cstddef>

#include "analysis/run_analysis.h"
#include "output/report/report_data.h"

namespace mvt_trace {

// How the report draws the graph.
struct report_graph_options {
    // Graphviz takes seconds past a few hundred nodes and minutes past ten
    // thousand; the page's table lists every node anyway.
    std::size_t max_nodes = 400;
    int timeout_seconds = 60;
};

// The nodes the page lists at most: a table of more rows would not help a
// reader, and at some 220 bytes a row a large OpenMP run (a node per task)
// would outgrow the page. The heaviest are kept, and the critical path.
constexpr std::size_t page_nodes = 5000;

// Keeps in run.nodes the `count` with the most time and those on the
// critical path, in order of total time; the others become nodes that never
// ran as far as the page can tell (node_row -1, total_of 0). The work, span
// and other figures stay those of the whole run.
void keep_heaviest_nodes(run_analysis& run, std::size_t count);

// Fills what the report takes from the analysis: its JSON, its problems,
// check's health of each process (gathered on the analysis's first read),
// each execution's node, and the graph, drawn by Graphviz. `run` must
// outlive the inputs. `nodes_total` is how many nodes ran before
// keep_heaviest_nodes, given in the JSON as "nodes_total".
void attach_analysis(const run_analysis& run, std::size_t nodes_total, const report_graph_options& graph,
                     report_inputs& inputs);

}  // namespace mvt_trace

#endif
