#ifndef MVT_TRACE_OUTPUT_REPORT_TIMELINE_DATA_H
#define MVT_TRACE_OUTPUT_REPORT_TIMELINE_DATA_H

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// What the page embeds, so that it stays small enough for a browser however
// large the trace: beyond these limits executions are drawn as coarse blocks
// ("N executions") instead of one bar each.
struct timeline_limits {
    // The longest pieces are embedded one by one, the rest as blocks. At
    // about 100 bytes each (bar and details) 150000 make some 15 MB of page.
    std::size_t max_executions = 150000;
    std::size_t max_task_rows = 32;      // nesting deeper than this joins the deepest row's blocks
    std::size_t max_region_rows = 8;     // regions that overlap on more rows: blocks
    std::size_t blocks_per_row = 1000;   // at most this many columns of blocks across the run
    std::size_t max_blocks = 40000;      // all lanes' rows share these, each row at least 20 columns
    std::size_t max_text = 256;          // bytes of a name or metadata text that the page shows
    std::size_t max_names_bytes = 2u << 20;
    // Details go to the longest executions first; past this, the shortest
    // show no identifiers or metadata on click.
    std::size_t max_details_bytes = 9u << 20;
};

// The "timeline" object of the report page, from the analysis: one lane per
// thread (a trace file with records), pieces of executions on rows by
// nesting depth, regions on rows of their own above them, and per execution
// what a click on it shows:
// {"span_ns", "names": [...], "lanes": [...], "details": [...], "elided"}.
// Returns how many executions were drawn as blocks.
std::uint64_t write_timeline_json(const run_analysis& run, const timeline_limits& limits, std::ostream& out);

}  // namespace mvt_trace

#endif
