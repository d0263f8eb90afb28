#include "analysis/schedule_prediction.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "common/saturating.h"
#include "model/findings.h"

namespace mvt_trace {

namespace {

struct phase_range {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // one past
};

phase_range phase_at(const task_dag& dag, std::size_t k) {
    const auto n = static_cast<std::uint32_t>(dag.size());
    if (dag.phase_begin.empty()) return {0, n};
    return {std::min(dag.phase_begin[k], n), k + 1 < dag.phase_begin.size() ? std::min(dag.phase_begin[k + 1], n) : n};
}

std::uint64_t serial_before(const task_dag& dag, std::size_t k) { return k < dag.serial.size() ? dag.serial[k] : 0; }

bool within(const phase_range& phase, std::uint32_t t) { return t >= phase.first && t < phase.last; }

// What a task waits for within its phase, counted down as it is met; an
// edge that leaves the phase was met when the phase began.
void count_waits(const task_dag& dag, const phase_range& phase, std::vector<std::uint32_t>& waits) {
    for (std::uint32_t t = phase.first; t < phase.last; ++t) {
        std::uint32_t& w = waits[t];
        w = 0;
        for (const std::uint32_t* p = dag.predecessors.row_begin(t); p != dag.predecessors.row_end(t); ++p)
            if (*p < t && within(phase, *p)) ++w;
        if (t < dag.creator.size() && dag.creator[t] < t && within(phase, dag.creator[t])) ++w;
    }
}

}  // namespace

list_scheduler::list_scheduler(const task_dag& dag, const schedule_overheads& overheads)
    : dag_(dag), overheads_(overheads) {
    const std::size_t n = dag.size();
    index_pairs pairs;
    pairs.reserve(dag.predecessors.targets.size());
    for (std::uint32_t t = 0; t < n; ++t)
        for (const std::uint32_t* p = dag.predecessors.row_begin(t); p != dag.predecessors.row_end(t); ++p)
            pairs.push_back({*p, t});
    successors_ = compressed_rows(n, pairs);
    pairs.clear();
    for (std::uint32_t t = 0; t < dag.creator.size() && t < n; ++t)
        if (dag.creator[t] != no_index) pairs.push_back({dag.creator[t], t});
    children_ = compressed_rows(n, pairs);
    ready_.assign(n, 0);
    waits_.assign(n, 0);
    created_.assign(dag.stream.empty() ? 1 : *std::max_element(dag.stream.begin(), dag.stream.end()) + 1, 0);
}

std::uint64_t list_scheduler::length(const std::vector<std::uint64_t>& durations, std::uint64_t workers) {
    bool any_waited = false;
    return run(durations, workers, any_waited);
}

std::vector<std::uint64_t> list_scheduler::lengths(const std::vector<std::uint64_t>& durations,
                                                   const std::vector<std::uint64_t>& workers) {
    // By induction over the tasks in the order they start: with more
    // workers than a schedule in which every task found one free, every
    // task starts when it did, so the schedule is the same.
    std::vector<std::size_t> order(workers.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return workers[a] < workers[b]; });
    std::vector<std::uint64_t> out(workers.size(), 0);
    bool saturated = false;
    std::uint64_t last = 0, last_workers = 0;
    for (std::size_t k : order) {
        const std::uint64_t p = std::max<std::uint64_t>(workers[k], 1);
        if (!saturated && p != last_workers) {
            bool any_waited = false;
            last = run(durations, p, any_waited);
            saturated = !any_waited;
            last_workers = p;
        }
        out[k] = last;
    }
    return out;
}

std::uint64_t list_scheduler::run(const std::vector<std::uint64_t>& durations, std::uint64_t workers, bool& any_waited) {
    if (workers == 0) workers = 1;
    const task_dag& dag = dag_;
    const schedule_overheads& overheads = overheads_;
    // When each task may start: the latest of what it waited for so far.
    std::vector<std::uint64_t>& ready = ready_;
    std::vector<std::uint32_t>& waits = waits_;
    // Per stream, the tasks it created in the phase so far.
    std::vector<std::uint64_t>& created = created_;
    std::fill(created.begin(), created.end(), 0);
    using entry = std::pair<std::uint64_t, std::uint32_t>;  // (time, task)
    const std::greater<entry> after;
    // Tasks startable when the phase begins, sorted once, and those released
    // as the schedule goes, in a heap: in a phase of independent tasks the
    // heap stays empty and each task costs a step, not a logarithm.
    std::vector<entry>& initial = initial_;
    std::vector<entry>& released = released_;
    std::vector<std::uint64_t> free_at;  // a heap, earliest first
    const std::greater<std::uint64_t> later;
    std::uint64_t clock = 0;
    for (std::size_t k = 0; k < dag.phases(); ++k) {
        const phase_range phase = phase_at(dag, k);
        if (phase.first >= phase.last) {
            clock = saturating_add(clock, serial_before(dag, k));
            continue;
        }
        // A serial stretch ends with the start of the phase's first task, so
        // it holds that task's start delay, which the schedule adds itself.
        const std::uint64_t begin =
            std::max(clock, saturating_sub(saturating_add(clock, serial_before(dag, k)), overheads.start_delay));
        count_waits(dag, phase, waits);
        for (std::uint32_t t = phase.first; t < phase.last; ++t) {
            ready[t] = begin;
            if (t < dag.stream.size() && dag.stream[t] != 0)
                ready[t] = saturating_add(begin, saturating_mul(created[dag.stream[t]]++, overheads.creation_cost));
        }
        for (std::uint32_t t = phase.first; t < phase.last && !dag.stream.empty(); ++t)
            if (t < dag.stream.size()) created[dag.stream[t]] = 0;
        auto met = [&](std::uint32_t t, std::uint64_t at) {
            ready[t] = std::max(ready[t], at);
            if (--waits[t] == 0) {
                released.push_back({saturating_add(ready[t], overheads.start_delay), t});
                std::push_heap(released.begin(), released.end(), after);
            }
        };
        initial.clear();
        released.clear();
        for (std::uint32_t t = phase.first; t < phase.last; ++t)
            if (waits[t] == 0) initial.push_back({saturating_add(ready[t], overheads.start_delay), t});
        if (!std::is_sorted(initial.begin(), initial.end())) std::sort(initial.begin(), initial.end());
        std::size_t next = 0;
        // More workers than tasks would only stay idle.
        const std::uint64_t used = std::min<std::uint64_t>(workers, phase.last - phase.first);
        free_at.assign(used, begin);
        std::uint64_t end = begin;
        // Whatever a task waits for ends no earlier than the earliest free
        // worker, so the first task of the queue is the first that any task
        // can start, and no task released later can come before it.
        while (next < initial.size() || !released.empty()) {
            entry first;
            if (released.empty() || (next < initial.size() && initial[next] < released.front())) {
                first = initial[next++];
            } else {
                std::pop_heap(released.begin(), released.end(), after);
                first = released.back();
                released.pop_back();
            }
            const auto [at, t] = first;
            std::pop_heap(free_at.begin(), free_at.end(), later);
            any_waited = any_waited || free_at.back() > at;
            const std::uint64_t start = std::max(at, free_at.back());
            const std::uint64_t finish = saturating_add(start, durations[t]);
            free_at.back() = finish;
            std::push_heap(free_at.begin(), free_at.end(), later);
            end = std::max(end, finish);
            for (const std::uint32_t* c = children_.row_begin(t); c != children_.row_end(t); ++c)
                if (*c > t && within(phase, *c)) met(*c, saturating_add(start, std::min(dag.created_after[*c], durations[t])));
            for (const std::uint32_t* s = successors_.row_begin(t); s != successors_.row_end(t); ++s)
                if (*s > t && within(phase, *s)) met(*s, finish);
        }
        clock = end;
    }
    return saturating_add(clock, serial_before(dag, dag.phases()));
}

std::uint64_t schedule_length(const task_dag& dag, const std::vector<std::uint64_t>& durations,
                              const schedule_overheads& overheads, std::uint64_t workers) {
    return list_scheduler(dag, overheads).length(durations, workers);
}

dag_extent measure_extent(const task_dag& dag, const std::vector<std::uint64_t>& durations) {
    dag_extent extent;
    std::vector<std::uint64_t> start(dag.size(), 0), finish(dag.size(), 0);
    for (std::size_t k = 0; k <= dag.phases(); ++k) {
        extent.work = saturating_add(extent.work, serial_before(dag, k));
        extent.span = saturating_add(extent.span, serial_before(dag, k));
        if (k == dag.phases()) break;
        const phase_range phase = phase_at(dag, k);
        std::uint64_t longest = 0;
        for (std::uint32_t t = phase.first; t < phase.last; ++t) {
            std::uint64_t at = 0;
            for (const std::uint32_t* p = dag.predecessors.row_begin(t); p != dag.predecessors.row_end(t); ++p)
                if (*p < t && within(phase, *p)) at = std::max(at, finish[*p]);
            if (t < dag.creator.size() && dag.creator[t] < t && within(phase, dag.creator[t])) {
                const std::uint32_t c = dag.creator[t];
                at = std::max(at, saturating_add(start[c], std::min(dag.created_after[t], durations[c])));
            }
            start[t] = at;
            finish[t] = saturating_add(at, durations[t]);
            longest = std::max(longest, finish[t]);
            extent.work = saturating_add(extent.work, durations[t]);
        }
        extent.span = saturating_add(extent.span, longest);
    }
    return extent;
}

}  // namespace mvt_trace
