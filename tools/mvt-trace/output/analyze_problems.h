#ifndef MVT_TRACE_OUTPUT_ANALYZE_PROBLEMS_H
#define MVT_TRACE_OUTPUT_ANALYZE_PROBLEMS_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// The model's findings of one severity, one sentence each, in the order
// found: problems (files not whole, files of several runs, executions of
// nodes never closed, ...) or notes (what a user should know that is not
// wrong).
std::vector<std::string> finding_lines(const trace_model& model, severity level);

// "store (function_node, id 1.54.0)": a node's label with what tells it
// apart, on one line (control bytes of names shown escaped).
std::string describe_node(const run_analysis& run, std::uint32_t object);
// A step of the critical path: the node and which of its executions
// ("store #17").
std::string describe_step(const run_analysis& run, const critical_step& step);

}  // namespace mvt_trace

#endif
