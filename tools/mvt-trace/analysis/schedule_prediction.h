#ifndef MVT_TRACE_SCHEDULE_PREDICTION_H
#define MVT_TRACE_SCHEDULE_PREDICTION_H

#include <cstdint>
#include <utility>
#include <vector>

#include "common/compressed_rows.h"

namespace mvt_trace {

// A recorded program as a scheduler sees it: tasks of known duration, what
// each waits for, and the stretches where the program ran no task at all.
//
// Tasks are numbered phase by phase, each after those it waits for. A
// phase begins when every task of the phase before it has ended and the
// program has then run alone for its serial time (its own code between
// parallel parts, the creation of the first task). Within a phase a task
// waits for:
//   - its predecessors to end;
//   - its creator, a task that creates it while running, to have run
//     `created_after` of its own duration;
//   - if it belongs to a stream (of the tasks that one thread of the
//     program creates from outside any task), its turn in that stream: the
//     k-th task of a stream in the phase (from 0) is created k creation
//     costs after the phase begins.
struct task_dag {
    compressed_rows predecessors;
    std::vector<std::uint32_t> creator;       // per task, or no_index; may be empty: no task has one
    std::vector<std::uint64_t> created_after;  // per task with a creator
    std::vector<std::uint32_t> stream;        // per task, or 0 for none; may be empty: none is
    // The first task of each phase, ascending from 0; empty means one phase.
    std::vector<std::uint32_t> phase_begin;
    // serial[k]: the time the program runs alone before phase k; the last
    // entry, after the last phase. One more entry than phases, or empty.
    std::vector<std::uint64_t> serial;

    std::size_t size() const { return predecessors.size(); }
    std::size_t phases() const { return phase_begin.empty() ? 1 : phase_begin.size(); }
};

// What running a task costs beyond its own duration, as the run measured it.
struct schedule_overheads {
    // From the moment a task may start until a free worker has started it;
    // a phase's serial time holds it already.
    std::uint64_t start_delay = 0;
    // The time the program takes to create one task from outside any task.
    std::uint64_t creation_cost = 0;
};

// Greedy list schedules of one DAG on identical workers, durations by task:
// whenever a worker is free and a task may start, the task that became
// startable first (then the lowest numbered) starts on it. Graham's list
// scheduling; the order stands in for a runtime's queues, which hand out
// what was released first. What a schedule walks (the tasks each task
// releases) is built once for every schedule asked of the same DAG, which
// must outlive the scheduler.
class list_scheduler {
public:
    list_scheduler(const task_dag& dag, const schedule_overheads& overheads);

    // The length on `workers` (at least 1).
    std::uint64_t length(const std::vector<std::uint64_t>& durations, std::uint64_t workers);
    // The length on each of `workers`, in that order. Once a schedule had no
    // task wait for a worker, more workers change nothing and are not run.
    std::vector<std::uint64_t> lengths(const std::vector<std::uint64_t>& durations,
                                       const std::vector<std::uint64_t>& workers);

private:
    std::uint64_t run(const std::vector<std::uint64_t>& durations, std::uint64_t workers, bool& any_waited);

    const task_dag& dag_;
    schedule_overheads overheads_;
    compressed_rows successors_;
    compressed_rows children_;
    std::vector<std::uint64_t> ready_;
    std::vector<std::uint32_t> waits_;
    std::vector<std::uint64_t> created_;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> initial_, released_;
};

// One schedule's length, as list_scheduler gives it.
std::uint64_t schedule_length(const task_dag& dag, const std::vector<std::uint64_t>& durations,
                              const schedule_overheads& overheads, std::uint64_t workers);

// Work (the durations and the serial times added up) and span (the longest
// chain through the phases, serial times included), without overheads: on
// P workers a greedy schedule takes at least max(work / P, span) and at
// most work / P + span.
struct dag_extent {
    std::uint64_t work = 0;
    std::uint64_t span = 0;
};
dag_extent measure_extent(const task_dag& dag, const std::vector<std::uint64_t>& durations);

}  // namespace mvt_trace

#endif
