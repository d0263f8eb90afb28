#ifndef MVT_TRACE_CHROME_OUTPUT_H
#define MVT_TRACE_CHROME_OUTPUT_H

#include <ostream>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Writes the run as Chrome Trace Event Format JSON (the object form with
// "traceEvents"): one track per trace file, task executions and regions as
// complete events, metadata as their args, and relations between executions
// as flow arrows. Reads the run twice.
std::vector<file_report> write_chrome(const std::vector<trace_file>& files, std::ostream& out);

}  // namespace mvt_trace

#endif
