#ifndef MVT_TRACE_OUTPUT_SUMMARY_TEXT_H
#define MVT_TRACE_OUTPUT_SUMMARY_TEXT_H

#include <ostream>

#include "model/trace_model.h"

namespace mvt_trace {

// Per trace file: records by kind, the time span, task executions and
// regions by name with count, total and mean duration; then the same for
// all files together, and the records that declared the graph. An
// execution counts in the file where it began.
void write_summary(const trace_model& model, std::ostream& out);

}  // namespace mvt_trace

#endif
