#ifndef MVT_TRACE_OUTPUT_CHECK_REPORT_H
#define MVT_TRACE_OUTPUT_CHECK_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include "analysis/run_health.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// One line per file (whole, or its first problem as FILE:LINE), a total, the
// reasons the files do not make one run, and the notes.
void write_check_report(const run_health& health, std::ostream& out);

// "ignored: PATH (REASON)" for each entry the listing passed over.
void write_ignored_entries(const std::vector<ignored_entry>& ignored, std::ostream& out);

// "path:line: message" for a file that is not whole.
std::string problem_line(const file_report& report);

// How a program's threads reach the library, for a trace with no records.
extern const char* const how_runtimes_reach_the_library;

}  // namespace mvt_trace

#endif
