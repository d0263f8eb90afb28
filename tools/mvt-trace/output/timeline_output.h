#ifndef MVT_TRACE_TIMELINE_OUTPUT_H
#define MVT_TRACE_TIMELINE_OUTPUT_H

#include <ostream>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

struct timeline_options {
    unsigned width = 1600;  // pixels
};

// Writes a self-contained SVG Gantt chart: one lane per thread ("thread K",
// a trace file with records), regions on rows of their own above one bar per
// task execution (nested ones on rows below), coloured by name and named
// where the name fits, executions left open at the end marked by a torn
// edge, with a time axis and a legend. No script: a static picture. Reads
// the run twice, in memory that does not grow with it.
std::vector<file_report> write_timeline(const std::vector<trace_file>& files, const timeline_options& options,
                                        std::ostream& out);

}  // namespace mvt_trace

#endif
