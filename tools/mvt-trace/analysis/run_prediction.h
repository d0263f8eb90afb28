#ifndef MVT_TRACE_RUN_PREDICTION_H
#define MVT_TRACE_RUN_PREDICTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/execution_graph.h"
#include "analysis/labels.h"
#include "analysis/schedule_prediction.h"
#include "model/trace_model.h"

namespace mvt_trace {

// A recorded run as a task_dag to schedule on other numbers of workers.
//
// The tasks are every task of the program's that ended (OpenMP's explicit
// tasks, with a node or not, and the executions of a flow graph's nodes),
// with the time their pieces took. What each waits for:
//   - the executions it waits for in the graph of executions;
//   - an OpenMP task with dependences, created by another task: that task,
//     for as long as it had run when it created it (its node's declaration
//     is its creation); created by the runtime's own code (an implicit
//     task), its turn among the tasks that its thread created so;
//   - a node whose executions never overlapped in the run, although it ran
//     more than once: its previous execution. Such a node runs one at a
//     time (a serial flow-graph node, an input node); one that merely never
//     had the chance to overlap is taken as serial too.
//   - a task of no node (an OpenMP task without dependences): nothing but
//     its phase and its turn among such tasks, taken as created one after
//     another: the trace says neither who created it nor when.
// Phases: where no task ran at all for longer than a thread usually takes
// from one task to its next, while no task whose predecessors had all ended
// was left waiting, the run passed a point that everything after waited
// for: a barrier, a taskwait followed by the program's own serial code.
// The time with no task running is kept as it was, as serial time.
//
// Not modelled: a taskwait or taskgroup that a task waits at before it
// ends (the trace does not record them; where a parent waits with nothing
// else to run it shows as a phase), nested parallel regions, a flow graph
// node's concurrency limit other than one at a time, and the contention for
// memory or locks that more workers bring: durations stay as measured.
struct run_schedule {
    task_dag dag;
    std::vector<std::uint64_t> durations;   // per task, as recorded
    std::vector<std::uint32_t> executions;  // per task, its model position
    // Per task, its label (run_labels::of_execution) by number; the labels
    // with the total recorded time of their tasks.
    std::vector<std::uint32_t> label_of;
    std::vector<std::string> labels;
    std::vector<std::uint64_t> label_time;
    schedule_overheads overheads;
    // Threads that ran a task (at least 1), and the run's wall time.
    std::uint64_t recorded_workers = 1;
    std::uint64_t recorded_ns = 0;
};

run_schedule schedule_of_run(const trace_model& model, const run_labels& labels, const execution_graph& graph);

// One predicted run time, beside the bounds that work and span set.
struct worker_prediction {
    std::uint64_t workers = 0;
    std::uint64_t time_ns = 0;
    double speedup = 0;  // the predicted time on one worker, divided by time_ns
    std::uint64_t lower_bound_ns = 0;  // max(work / P, span)
    std::uint64_t upper_bound_ns = 0;  // work / P + span
};

std::vector<worker_prediction> predict_runs(const run_schedule& schedule, const std::vector<std::uint64_t>& durations,
                                            const std::vector<std::uint64_t>& workers);

// 1, 2, 4, ... 64 and the recorded number of workers, ascending.
std::vector<std::uint64_t> default_worker_counts(std::uint64_t recorded);

// analyze (and report) predict runs of up to this many tasks. Past it the
// schedules would take longer than reading the run; predict takes the time.
inline constexpr std::uint64_t predicted_in_analysis_at_most = 250000;

struct scalability_summary {
    bool predicted = false;  // false for a run past what analyze predicts
    std::uint64_t tasks = 0;  // the tasks scheduled, or that would have been
    std::uint64_t recorded_workers = 0;
    std::vector<worker_prediction> predictions;  // on default_worker_counts
    // The least power of two P whose doubling gains under 5 %, or 0 when
    // doubling still gains that much at 32.
    std::uint64_t doubling_gains_under_5_percent_past = 0;
};

scalability_summary summarize_scalability(const run_schedule& schedule);

// What predict shows: the predictions, and what was made faster for them.
struct faster_label {
    std::string label;
    double factor = 1;
};
struct prediction_report {
    std::uint64_t recorded_workers = 0;
    std::uint64_t recorded_ns = 0;
    schedule_overheads overheads;
    std::vector<worker_prediction> predictions;
    std::vector<faster_label> faster;
};

// What LABEL of --faster names: a label equal to it, else the one label
// that holds it. Otherwise `label` is no_index and `candidates` the labels
// that hold it (several), or every label (none does), heaviest first.
struct label_match {
    std::uint32_t label = no_index;
    bool several = false;  // more than one label holds it
    std::vector<std::string> candidates;
};
label_match match_label(const run_schedule& schedule, const std::string& wanted);

// The durations with those of the label's tasks divided by `factor` (> 0).
void speed_up(const run_schedule& schedule, std::vector<std::uint64_t>& durations, std::uint32_t label, double factor);

// The labels whose tasks, twice as fast, shorten the run on the recorded
// number of workers the most: at most `count`, largest saving first.
struct what_if_row {
    std::string label;
    std::uint64_t time_ns = 0;   // predicted with that label's tasks halved
    std::uint64_t saved_ns = 0;  // the prediction as recorded minus time_ns
};
std::vector<what_if_row> halving_what_ifs(const run_schedule& schedule, std::size_t count = 5);

}  // namespace mvt_trace

#endif
