#ifndef MVT_TRACE_OUTPUT_DIFF_JSON_H
#define MVT_TRACE_OUTPUT_DIFF_JSON_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/run_comparison.h"

namespace mvt_trace {

// The comparison as one JSON object, a published interface (the README
// lists its members; new ones may be added, none renamed): diff --json
// prints it, and the report page carries it as "comparison". Durations are
// integer nanoseconds, changes relative (+1.0 is twice as long).
nlohmann::ordered_json comparison_json(const run_comparison& comparison);

// That object on one line; names from the trace that are not UTF-8 are
// replaced, so any trace gives parseable JSON.
std::string comparison_json_text(const run_comparison& comparison);
// The same object for a reader too: a member a line, a construct a line.
void write_comparison_json(const run_comparison& comparison, std::ostream& out);

}  // namespace mvt_trace

#endif
