#ifndef MVT_TRACE_OUTPUT_CHECK_REPORT_H
#define MVT_TRACE_OUTPUT_CHECK_REPORT_H

#include <ostream>
#include <vector>

#include "model/trace_model.h"
#include "reading/run_layout.h"
#include "reading/trace_directory.h"

namespace mvt_trace {

// Per process (with its name when the run has several): one line per file
// (whole, or its first problem as FILE:LINE), a total, then the problems the
// model found beyond the files' own (files of several runs, executions of
// nodes never ended, ...) and the notes. A process replaced by exec is
// whole up to its exec. True when the trace is sound: every file whole, and
// no problem.
bool write_check_report(const trace_model& model, const run_layout& layout, std::ostream& out);

// "ignored: PATH (REASON)" for each entry the listing passed over.
void write_ignored_entries(const std::vector<ignored_entry>& ignored, std::ostream& out);

// How a program's threads reach the library, for a trace with no records.
extern const char* const how_runtimes_reach_the_library;

}  // namespace mvt_trace

#endif
