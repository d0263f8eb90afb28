#ifndef MVT_TRACE_SUMMARY_H
#define MVT_TRACE_SUMMARY_H

#include <ostream>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Reads the run once and writes, per file, records by kind, the time span,
// task executions and regions by name with count, total and mean duration;
// then the same for all files together and the size of the recorded graph.
std::vector<file_report> write_summary(const std::vector<trace_file>& files, std::ostream& out);

}  // namespace mvt_trace

#endif
