#include "output/predict_text.h"

#include <cstdio>
#include <iomanip>

#include "common/terminal_text.h"
#include "common/text_format.h"

namespace mvt_trace {

namespace {

// A factor as given, without trailing zeros: 2, 1.5, 0.25.
std::string factor_text(double factor) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", factor);
    return text;
}

}  // namespace

void write_prediction_text(const prediction_report& report, std::ostream& out) {
    out << "predicted run time: a greedy schedule of the recorded tasks, from a run on "
        << counted(report.recorded_workers, "worker", "workers") << " in " << format_duration(report.recorded_ns)
        << "\n  overheads measured in the run: " << format_duration(report.overheads.start_delay)
        << " from a task's release to its start, " << format_duration(report.overheads.creation_cost)
        << " to create a task\n";
    for (const faster_label& f : report.faster)
        out << "  faster: " << printable(f.label) << ", " << factor_text(f.factor) << " times\n";
    out << "\n  " << std::setw(7) << "workers" << std::setw(12) << "time" << std::setw(9) << "speedup"
        << std::setw(13) << "lower bound" << std::setw(13) << "upper bound" << "\n";
    for (const worker_prediction& p : report.predictions) {
        out << "  " << std::setw(7) << p.workers << std::setw(12) << format_duration(p.time_ns) << std::setw(9)
            << fixed(p.speedup, 2) << std::setw(13) << format_duration(p.lower_bound_ns) << std::setw(13)
            << format_duration(p.upper_bound_ns);
        if (p.workers == report.recorded_workers)
            out << "  (recorded " << format_duration(report.recorded_ns) << ")";
        out << "\n";
    }
    out << "\n  the bounds: max(work / P, span) and work / P + span, without the overheads\n";
}

std::string scalability_line(const scalability_summary& scalability) {
    if (!scalability.predicted)
        return "scalability: not predicted for " + counted(scalability.tasks, "task", "tasks") + ", more than analyze's " +
               std::to_string(predicted_in_analysis_at_most) + " (mvt-trace predict takes the time)";
    auto speedup_on = [&](std::uint64_t workers) {
        for (const worker_prediction& p : scalability.predictions)
            if (p.workers == workers) return fixed(p.speedup, 2);
        return std::string("?");
    };
    std::string line = "scalability: predicted speedup " + speedup_on(8) + " on 8 workers, " + speedup_on(64) +
                       " on 64; ";
    if (scalability.doubling_gains_under_5_percent_past == 0)
        line += "doubling the workers still gains 5 % or more at 32";
    else
        line += "doubling the workers gains under 5 % past " +
                std::to_string(scalability.doubling_gains_under_5_percent_past);
    return line + " (mvt-trace predict)";
}

}  // namespace mvt_trace
