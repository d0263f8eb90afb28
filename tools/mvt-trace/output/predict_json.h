#ifndef MVT_TRACE_PREDICT_JSON_H
#define MVT_TRACE_PREDICT_JSON_H

#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/run_prediction.h"

namespace mvt_trace {

// predict --json and analyze's scalability member: published interfaces
// whose members keep their names and meanings (the README lists them).
// Times are integer nanoseconds; speedups have three decimals.
nlohmann::ordered_json predictions_json(const std::vector<worker_prediction>& predictions);
nlohmann::ordered_json scalability_json(const scalability_summary& scalability);
void write_prediction_json(const prediction_report& report, std::ostream& out);

}  // namespace mvt_trace

#endif
