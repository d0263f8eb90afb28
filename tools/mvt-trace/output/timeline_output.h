#ifndef MVT_TRACE_TIMELINE_OUTPUT_H
#define MVT_TRACE_TIMELINE_OUTPUT_H

#include <ostream>
#include <vector>

#include "analysis/labels.h"
#include "model/trace_model.h"


namespace mvt_trace {

struct timeline_options {
    unsigned width = 1600;  // pixels
};

// Writes a self-contained SVG Gantt chart: one lane per thread ("thread K",
// a trace file with records), regions on rows of their own above one bar per
// piece of each execution (nested ones on rows below), coloured and named as
// analyze names them where the name fits, executions left open at the end
// marked by a torn edge, with a time axis and a legend. No script: a static
// picture.
void write_timeline(const trace_model& model, const run_labels& labels, const timeline_options& options,
                    std::ostream& out);

}  // namespace mvt_trace

#endif
