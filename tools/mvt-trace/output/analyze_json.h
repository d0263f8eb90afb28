#ifndef MVT_TRACE_ANALYZE_JSON_H
#define MVT_TRACE_ANALYZE_JSON_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/run_analysis.h"

namespace mvt_trace {

struct analysis_json_options {
    // Adds dependency_graph.edge_list, every node-to-node edge.
    bool edge_list = false;
};

// The analysis as one JSON object, a published interface: its members and
// their meanings stay as they are (new members may be added); the README
// lists them. Durations and times are integer nanoseconds; identifiers are
// "d1.d2.d3" strings, since their words may exceed what a JSON number holds
// exactly.
// The JSON outputs' shared forms: ratios and shares to three decimals, and
// a value as one line of text (bytes that are not UTF-8 replaced).
double rounded(double value);
std::string compact_text(const nlohmann::ordered_json& value);

// A source place as the JSON outputs give it: {function, file, line,
// inlined_into?}.
nlohmann::ordered_json location_json(const code_location& place);

nlohmann::ordered_json analysis_json(const run_analysis& run, const analysis_json_options& options = {});
// Writes that object a member at a time and the node lists a row at a time,
// in memory that does not grow with the number of nodes.
void write_analysis_json(const run_analysis& run, std::ostream& out, const analysis_json_options& options = {});

}  // namespace mvt_trace

#endif
