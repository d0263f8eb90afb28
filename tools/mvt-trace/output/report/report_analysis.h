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

// Fills what the report takes from the analysis: its JSON, its problems,
// check's health of each process (gathered on the analysis's first read),
// each execution's node, and the graph, drawn by Graphviz once the
// timeline's pass knows in which order the parts of the graph ran. `run`
// must outlive the inputs.
void attach_analysis(const run_analysis& run, const report_graph_options& graph, report_inputs& inputs);

}  // namespace mvt_trace

#endif
