#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_DATA_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_DATA_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/run_health.h"
#include "output/report/timeline_data.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// What the report shows beside the trace itself. Everything but the
// directories may stay empty: the page then says what is missing.
struct report_inputs {
    // The directories as given on the command line, one process each
    // (trace_file::process numbers them).
    std::vector<std::string> directories;
    // The object `mvt-trace analyze --json` writes; empty gives "analysis": null.
    // The report lists fewer nodes than a large run has (keep_heaviest_nodes)
    // and adds "nodes_total", how many ran.
    std::string analysis_json;
    // Problems the analysis found. Given an analysis, these are the page's
    // problems (they include check's); without, check's findings are.
    std::vector<std::string> analysis_problems;
    // check's view of each process, when the caller has it (the analysis
    // gathers it on its way); otherwise the report reads the run for it.
    const std::vector<run_health>* health = nullptr;
    // The analysis's node of an execution, so that a click on a bar leads to
    // its node in the graph and the table.
    node_lookup node_of;
    // Graphviz's drawing of the graph, each node's <g> carrying
    // id="node-<position in analysis.nodes>"; empty gives "svg": null.
    std::string graph_svg;
    // Shown beside or instead of the drawing; empty gives "note": null.
    std::string graph_note;
    timeline_limits limits;
};

// Work done while the timeline's pass reads the run on a thread of its own
// (the analysis, which reads it too); it may fill in the inputs.
using report_preparation = std::function<void(report_inputs&)>;

// Reads the run and writes the page's data object, safe to stand inside a
// <script> element:
// {"format": 1, "generator": ..., "run": {...}, "analysis": ..., "timeline": {...}, "graph": {...}}.
// One report per file, from the pass that gathers the timeline.
std::vector<file_report> write_report_data(const std::vector<trace_file>& files, report_inputs inputs,
                                           std::ostream& out, const report_preparation& alongside = {});

// The whole page: write_report_data's object inside the built-in page.
std::vector<file_report> write_report(const std::vector<trace_file>& files, const report_inputs& inputs,
                                      std::ostream& out, const report_preparation& alongside = {});

}  // namespace mvt_trace

#endif
