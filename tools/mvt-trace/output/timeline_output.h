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

// Writes a self-contained SVG Gantt chart: one lane per trace file, one bar
// per task execution (nested ones on rows below), coloured by name, with a
// time axis and a legend. Reads the run twice.
std::vector<file_report> write_timeline(const std::vector<trace_file>& files, const timeline_options& options,
                                        std::ostream& out);

}  // namespace mvt_trace

#endif
