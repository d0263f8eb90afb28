#include "output/predict_json.h"

#include "output/analyze_json.h"

namespace mvt_trace {

using json = nlohmann::ordered_json;

json predictions_json(const std::vector<worker_prediction>& predictions) {
    json rows = json::array();
    for (const worker_prediction& p : predictions)
        rows.push_back({{"workers", p.workers},
                        {"time_ns", p.time_ns},
                        {"speedup", rounded(p.speedup)},
                        {"lower_bound_ns", p.lower_bound_ns},
                        {"upper_bound_ns", p.upper_bound_ns}});
    return rows;
}

json scalability_json(const scalability_summary& scalability) {
    if (!scalability.predicted) return nullptr;
    json past = nullptr;
    if (scalability.doubling_gains_under_5_percent_past != 0) past = scalability.doubling_gains_under_5_percent_past;
    return {{"recorded_workers", scalability.recorded_workers},
            {"predictions", predictions_json(scalability.predictions)},
            {"doubling_gains_under_5_percent_past", past}};
}

void write_prediction_json(const prediction_report& report, std::ostream& out) {
    json faster = json::array();
    for (const faster_label& f : report.faster) faster.push_back({{"label", f.label}, {"factor", f.factor}});
    const json root = {{"recorded_workers", report.recorded_workers},
                       {"recorded_ns", report.recorded_ns},
                       {"overheads",
                        {{"start_delay_ns", report.overheads.start_delay},
                         {"creation_ns", report.overheads.creation_cost}}},
                       {"predictions", predictions_json(report.predictions)},
                       {"faster", std::move(faster)}};
    // Labels come from the trace as bytes: invalid UTF-8 is replaced so that
    // any trace gives a parseable object.
    out << root.dump(1, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace mvt_trace
