#ifndef MVT_TRACE_PREDICT_TEXT_H
#define MVT_TRACE_PREDICT_TEXT_H

#include <ostream>
#include <string>

#include "analysis/run_prediction.h"

namespace mvt_trace {

// predict for people: a row per number of workers, the recorded one marked.
void write_prediction_text(const prediction_report& report, std::ostream& out);

// analyze's one line: the speedup on 8 and 64 workers, and where doubling
// stops paying.
std::string scalability_line(const scalability_summary& scalability);

}  // namespace mvt_trace

#endif
