#ifndef MVT_TRACE_OUTPUT_DIFF_TEXT_H
#define MVT_TRACE_OUTPUT_DIFF_TEXT_H

#include <ostream>

#include "analysis/run_comparison.h"

namespace mvt_trace {

// The comparison for people: the run's measures side by side, then the
// constructs, those that regressed first, each with its verdict; the
// constructs added and removed; and a last line that says what regressed.
void write_comparison_text(const run_comparison& comparison, std::ostream& out);

}  // namespace mvt_trace

#endif
