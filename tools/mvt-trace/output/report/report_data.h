#ifndef MVT_TRACE_OUTPUT_REPORT_REPORT_DATA_H
#define MVT_TRACE_OUTPUT_REPORT_REPORT_DATA_H

#include <ostream>
#include <string>

#include "analysis/run_analysis.h"
#include "analysis/run_comparison.h"
#include "output/report/timeline_data.h"

namespace mvt_trace {

// How the report draws the graph and how much of the run it embeds.
struct report_options {
    // Nodes of the instance graph drawn at most: Graphviz takes seconds
    // past a few hundred nodes and minutes past ten thousand; the page's
    // table lists every node anyway.
    std::size_t max_nodes = 400;
    int timeout_seconds = 60;
    timeline_limits limits;
    // What changed since a baseline run ('report --baseline'), or null.
    const run_comparison* comparison = nullptr;
};

// The nodes the page lists at most: a table of more rows would not help a
// reader, and at some 220 bytes a row a large OpenMP run (a node per task)
// would outgrow the page. The heaviest are kept, and the critical path's.
constexpr std::size_t page_nodes = 5000;

// The constructs the page lists at most, the same way: a program has a few
// dozen, but a trace whose every task has code of its own has one per task.
// The construct drawing shows fewer than this, the heaviest first.
constexpr std::size_t page_constructs = 1000;

// Writes the page's data object, safe to stand inside a <script> element:
// {"format": 2, "generator": ..., "run": {...}, "analysis": {...},
//  "what_if": [{"label", "time_ns", "saved_ns"}], "timeline": {...},
//  "graph": {"svg", "note", "instances_svg"},
//  "comparison": diff --json's object, or null without a baseline}.
// The analysis holds the predicted times (scalability); what_if the five
// constructs whose halving saves the most on the recorded number of workers.
void write_report_data(const run_analysis& run, const report_options& options, std::ostream& out);

// The whole page: that object inside the built-in page.
void write_report(const run_analysis& run, const report_options& options, std::ostream& out);

}  // namespace mvt_trace

#endif
