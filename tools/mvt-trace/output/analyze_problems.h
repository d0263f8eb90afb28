#ifndef MVT_TRACE_ANALYZE_PROBLEMS_H
#define MVT_TRACE_ANALYZE_PROBLEMS_H

#include <string>
#include <vector>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// What analyze found amiss, one sentence each, in this order: files not
// whole and directories that hold more than one run (check's findings),
// executions never closed and ends with nothing open (per file), identifiers
// declared as different kinds of object, and cycles condensed in the
// dependency graph.
std::vector<std::string> analysis_problems(const run_analysis& run);

// "A (node, id 1.0.0)": a node's name with what tells it apart, on one line
// (control characters of names become blanks).
std::string describe_node(const run_analysis& run, std::size_t object);

// The text with control characters (line feeds, say) replaced by blanks.
std::string one_line(std::string text);

}  // namespace mvt_trace

#endif
