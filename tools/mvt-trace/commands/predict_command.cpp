#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/predict_json.h"
#include "output/predict_text.h"

namespace mvt_trace {

namespace {

constexpr std::size_t listed_candidates = 10;

int usage(const std::string& message) {
    print_error("predict: " + message + " (see 'mvt-trace predict --help')");
    return 2;
}

// "1,4,8": ascending, each once. Nine digits at most keeps every count far
// from any overflow, and past a billion workers nothing changes.
bool parse_workers(const std::string& text, std::vector<std::uint64_t>& workers) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string word = text.substr(at, comma - at);
        if (word.empty() || word.size() > 9 ||
            !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        const std::uint64_t count = std::stoull(word);
        if (count == 0) return false;
        workers.push_back(count);
        at = comma + 1;
    }
    std::sort(workers.begin(), workers.end());
    workers.erase(std::unique(workers.begin(), workers.end()), workers.end());
    return !workers.empty();
}

// "LABEL=FACTOR": the last '=' splits, since a label may hold one.
bool parse_faster(const std::string& text, faster_label& faster) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0) return false;
    faster.label = text.substr(0, equals);
    const std::string number = text.substr(equals + 1);
    if (number.empty()) return false;
    char* end = nullptr;
    faster.factor = std::strtod(number.c_str(), &end);
    return end == number.c_str() + number.size() && std::isfinite(faster.factor) && faster.factor > 0;
}

std::string listed(const std::vector<std::string>& labels) {
    std::string text;
    for (std::size_t k = 0; k < labels.size() && k < listed_candidates; ++k)
        text += (k == 0 ? "'" : ", '") + labels[k] + "'";
    if (labels.size() > listed_candidates) text += " and " + std::to_string(labels.size() - listed_candidates) + " more";
    return text;
}

int run_predict(const invocation& call) {
    std::vector<std::uint64_t> workers;
    if (call.has("--workers") && !parse_workers(call.value("--workers"), workers))
        return usage("--workers needs a comma list of positive numbers, as 1,4,8");
    std::vector<faster_label> faster;
    for (const std::string& value : call.all_values("--faster")) {
        faster.emplace_back();
        if (!parse_faster(value, faster.back()))
            return usage("--faster needs LABEL=FACTOR with a factor above 0, as 'sweep=2', not '" + value + "'");
    }
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    const run_analysis run = analyze_run(layout, progress_options(call), analysis_depth::schedule);
    const run_schedule& schedule = run.schedule;
    std::vector<std::uint64_t> durations = schedule.durations;
    for (faster_label& f : faster) {
        const label_match match = match_label(schedule, f.label);
        if (match.label == no_index) {
            if (match.candidates.empty()) return usage("--faster " + f.label + ": the run has no task to make faster");
            return usage("--faster '" + f.label + "' " +
                         (match.several ? "matches several labels: " : "matches no label; the labels: ") +
                         listed(match.candidates));
        }
        f.label = schedule.labels[match.label];
        speed_up(schedule, durations, match.label, f.factor);
    }
    if (workers.empty()) workers = default_worker_counts(schedule.recorded_workers);

    prediction_report report;
    report.recorded_workers = schedule.recorded_workers;
    report.recorded_ns = schedule.recorded_ns;
    report.overheads = schedule.overheads;
    report.predictions = predict_runs(schedule, durations, workers);
    report.faster = faster;

    output_file out;
    std::string error;
    if (!out.open(call.value("--output"), call.positional, error)) {
        print_error(error);
        return 2;
    }
    if (call.has("--json"))
        write_prediction_json(report, out.stream());
    else
        write_prediction_text(report, out.stream());
    const int status = warn_about(outcome_of(run.model));
    if (status != 0) return status;
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

}  // namespace

const command_spec predict_command = {
    "predict",
    "DIR [DIR...]",
    "the run time on other numbers of workers, and what if a task were faster",
    "Schedules the recorded tasks greedily on P workers (Graham's list scheduling): each\n"
    "task keeps its measured duration, waits for what it waited for in the graph of\n"
    "executions and for its creation, and pays the overheads the run measured: the median\n"
    "delay from a task's release to its start on an idle worker, and the median time to\n"
    "create a task. Stretches where no task ran (serial code, barriers with nothing left to\n"
    "run) keep their recorded length. Beside each prediction, the bounds that work and span\n"
    "set: max(work / P, span) and work / P + span. Speedup is the predicted time on one\n"
    "worker over the predicted time on P.\n"
    "\n"
    "--faster LABEL=FACTOR divides the durations of the tasks of one construct or node by\n"
    "FACTOR first; LABEL is a label as analyze shows it, or part of one that no other label\n"
    "holds. It may be repeated. Not modelled: taskwaits inside a task (the trace does not\n"
    "record them), a flow-graph node's concurrency limit other than one at a time, and the\n"
    "contention that more workers bring.",
    {output_option("the prediction"),
     {"--workers", "", "LIST", "comma list of worker counts (default 1,2,4,...,64 and the recorded count)"},
     {"--faster", "", "LABEL=FACTOR", "divide the durations of LABEL's tasks by FACTOR (repeatable)"},
     {"--json", "", "", "print one JSON object instead of text"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_predict,
};

}  // namespace mvt_trace
