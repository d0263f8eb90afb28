#ifndef MVT_TRACE_ANALYZE_TEXT_H
#define MVT_TRACE_ANALYZE_TEXT_H

#include <ostream>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// The analysis for people: the run, the nodes by total time (the first 20),
// the unattached executions, the dependency graph, concurrency and problems.
void write_analysis_text(const run_analysis& run, std::ostream& out);

}  // namespace mvt_trace

#endif
