#include "analysis/run_prediction.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "common/saturating.h"

namespace mvt_trace {

namespace {

using execution = trace_model::execution;

constexpr std::uint64_t unknown = u64_max;

// The middle sample: a few tasks that waited behind a busy runtime, or a
// creation that ran a task in between, would pull a mean far from what a
// typical task pays; the median ignores them.
std::uint64_t median(std::vector<std::uint64_t> samples) {
    if (samples.empty()) return 0;
    auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

// How long an execution had run, piece by piece, by time `at`.
std::uint64_t run_by(const trace_model& model, const execution& x, std::uint64_t at) {
    std::uint64_t done = 0;
    for (std::uint32_t p = x.piece_count ? x.first_piece : no_index; p != no_index; p = model.pieces()[p].next) {
        const trace_model::piece& piece = model.pieces()[p];
        if (piece.begin >= at) break;
        done = saturating_add(done, std::min(piece.end, at) - piece.begin);
    }
    return done;
}

// The executions each task waits for, from the graph of executions and
// from nodes that ran one execution at a time; and when the run let each
// task start (unknown when nothing it waited for is known).
struct recorded_waits {
    index_pairs edges;  // (task, the task it waits for)
    std::vector<std::uint64_t> released;
};

void add_graph_waits(const trace_model& model, const execution_graph& graph, const std::vector<std::uint32_t>& task_of,
                     const std::vector<std::uint32_t>& tasks, recorded_waits& waits) {
    const trace_model::execution_list& executions = model.executions();
    for (std::uint32_t i = 0; i < graph.members.size(); ++i) {
        const std::uint32_t t = task_of[graph.members[i]];
        if (t == no_index) continue;
        for (const std::uint32_t* p = graph.predecessors.row_begin(i); p != graph.predecessors.row_end(i); ++p) {
            const std::uint32_t before = task_of[graph.members[*p]];
            if (before == no_index) continue;
            waits.edges.push_back({t, before});
            const std::uint64_t end = executions[tasks[before]].end;
            waits.released[t] = waits.released[t] == unknown ? end : std::max(waits.released[t], end);
        }
    }
    // Nodes that ran one execution at a time.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> by_node;
    for (std::uint32_t t = 0; t < tasks.size(); ++t) {
        const execution& x = executions[tasks[t]];
        if (x.node != no_index && !model.objects()[x.node].is_openmp_task_node()) by_node[x.node].push_back(t);
    }
    for (const auto& entry : by_node) {
        const std::vector<std::uint32_t>& runs = entry.second;
        if (runs.size() < 2) continue;
        bool overlapped = false;
        for (std::size_t k = 1; k < runs.size() && !overlapped; ++k)
            overlapped = executions[tasks[runs[k]]].begin < executions[tasks[runs[k - 1]]].end;
        if (overlapped) continue;
        for (std::size_t k = 1; k < runs.size(); ++k) {
            waits.edges.push_back({runs[k], runs[k - 1]});
            const std::uint64_t end = executions[tasks[runs[k - 1]]].end;
            std::uint64_t& released = waits.released[runs[k]];
            released = released == unknown ? end : std::max(released, end);
        }
    }
}

// The time the thread spent in tasks that it began in (after, before).
std::uint64_t task_time_between(const trace_model& model, std::uint32_t thread, std::uint64_t after,
                                std::uint64_t before) {
    const auto [first, last] = model.pieces_of_thread(thread);
    const auto& pieces = model.pieces();
    const std::uint32_t* p = std::upper_bound(
        first, last, after, [&](std::uint64_t t, std::uint32_t piece) { return t < pieces[piece].begin; });
    std::uint64_t time = 0;
    for (; p != last && pieces[*p].begin < before; ++p) {
        const trace_model::piece& piece = pieces[*p];
        if (model.executions()[piece.execution].is_work()) time = saturating_add(time, std::min(piece.end, before) - piece.begin);
    }
    return time;
}

// The time between consecutive creations of OpenMP tasks on one thread,
// less the tasks the thread ran in between (a runtime runs a task in place
// when its queue is full): a program creates its tasks in a loop, so most
// intervals are one creation each.
std::uint64_t measure_creation_cost(const trace_model& model) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> created;
    for (const trace_model::object& o : model.objects())
        if (o.is_openmp_task_node()) created.push_back({o.declared_thread, o.declared});
    std::sort(created.begin(), created.end());
    std::vector<std::uint64_t> intervals;
    for (std::size_t k = 1; k < created.size(); ++k) {
        const auto [thread, at] = created[k];
        const std::uint64_t before = created[k - 1].second;
        if (thread == created[k - 1].first)
            intervals.push_back(saturating_sub(at - before, task_time_between(model, thread, before, at)));
    }
    return median(std::move(intervals));
}

// The time from a thread's task to its next, where the next began after
// the last ended: mostly a runtime handing a thread its next task.
std::uint64_t measure_dispatch_gap(const trace_model& model) {
    std::vector<std::uint64_t> gaps;
    for (std::uint32_t thread = 0; thread < model.threads().size(); ++thread) {
        bool any = false;
        std::uint64_t ended = 0;
        const auto [first, last] = model.pieces_of_thread(thread);
        for (const std::uint32_t* p = first; p != last; ++p) {
            const trace_model::piece& piece = model.pieces()[*p];
            if (!model.executions()[piece.execution].is_work()) continue;
            if (any && piece.begin >= ended) gaps.push_back(piece.begin - ended);
            ended = any ? std::max(ended, piece.end) : piece.end;
            any = true;
        }
    }
    return median(std::move(gaps));
}

// The delay from the moment a task was let start to its begin, over the
// tasks let start while some thread ran no task: what a free worker takes
// to pick up a task, not what a task waits for a worker.
std::uint64_t measure_start_delay(const trace_model& model, const std::vector<std::uint32_t>& tasks,
                                  const std::vector<std::uint64_t>& released, std::uint64_t workers) {
    std::vector<std::uint64_t> begins, ends;
    for (std::uint32_t e : tasks) {
        begins.push_back(model.executions()[e].begin);
        ends.push_back(model.executions()[e].end);
    }
    std::sort(begins.begin(), begins.end());
    std::sort(ends.begin(), ends.end());
    std::vector<std::uint64_t> delays;
    for (std::uint32_t t = 0; t < tasks.size(); ++t) {
        const std::uint64_t at = released[t];
        const std::uint64_t begin = model.executions()[tasks[t]].begin;
        if (at == unknown || at > begin) continue;
        const auto running = static_cast<std::uint64_t>(std::upper_bound(begins.begin(), begins.end(), at) - begins.begin()) -
                             static_cast<std::uint64_t>(std::upper_bound(ends.begin(), ends.end(), at) - ends.begin());
        if (running < workers) delays.push_back(begin - at);
    }
    return median(std::move(delays));
}

}  // namespace

run_schedule schedule_of_run(const trace_model& model, const run_labels& labels, const execution_graph& graph) {
    const trace_model::execution_list& executions = model.executions();
    run_schedule s;
    s.recorded_ns = model.wall();
    // Tasks in order of begin, as the model keeps executions: whatever a
    // task waits for began before it.
    std::vector<std::uint32_t> task_of(executions.size(), no_index);
    for (std::uint32_t e = 0; e < executions.size(); ++e)
        if (executions[e].is_work() && !executions[e].open_at_end) {
            task_of[e] = static_cast<std::uint32_t>(s.executions.size());
            s.executions.push_back(e);
        }
    const std::vector<std::uint32_t>& tasks = s.executions;
    const std::size_t n = tasks.size();
    std::vector<char> ran_task(model.threads().size(), 0);
    for (std::uint32_t e : tasks)
        for (std::uint32_t p = executions[e].piece_count ? executions[e].first_piece : no_index; p != no_index;
             p = model.pieces()[p].next)
            ran_task[model.pieces()[p].thread] = 1;
    s.recorded_workers = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::count(ran_task.begin(), ran_task.end(), 1)));

    recorded_waits waits;
    waits.released.assign(n, unknown);
    add_graph_waits(model, graph, task_of, tasks, waits);

    const std::vector<std::uint64_t> released_by_predecessor = waits.released;

    // Creation: who created each OpenMP task with dependences, and when.
    std::vector<std::vector<std::uint32_t>> task_by_id(model.processes().size());
    for (std::size_t p = 0; p < task_by_id.size(); ++p) task_by_id[p].assign(model.processes()[p].ids.size(), no_index);
    for (std::uint32_t t = 0; t < n; ++t) {
        const execution& x = executions[tasks[t]];
        std::uint32_t& task = task_by_id[model.process_of(x)][x.id];
        if (task == no_index) task = t;
    }
    s.dag.creator.assign(n, no_index);
    s.dag.created_after.assign(n, 0);
    s.dag.stream.assign(n, 0);
    // Tasks of no node: the trace names no creator, so they are taken as
    // created one after another, by one thread.
    const auto unknown_creator = static_cast<std::uint32_t>(model.threads().size() + 1);
    for (std::uint32_t t = 0; t < n; ++t) {
        const execution& x = executions[tasks[t]];
        if (x.node == no_index) {
            s.dag.stream[t] = unknown_creator;
            continue;
        }
        const trace_model::object& node = model.objects()[x.node];
        if (!node.is_openmp_task_node()) continue;
        std::uint64_t& released = waits.released[t];
        released = released == unknown ? node.declared : std::max(released, node.declared);
        const std::vector<std::uint32_t>& ids = task_by_id[node.process];
        const std::uint32_t creator = node.parent_id < ids.size() ? ids[node.parent_id] : no_index;
        if (creator < t) {
            s.dag.creator[t] = creator;
            s.dag.created_after[t] = run_by(model, executions[tasks[creator]], node.declared);
        } else {
            s.dag.stream[t] = node.declared_thread + 1;
        }
    }
    s.dag.predecessors = compressed_rows(n, waits.edges);

    // Phases: where nothing ran for longer than twice the time a thread
    // takes from one task to the next, nothing that could run waited, and
    // the first task after was not let start by a task that ended there. A
    // stretch where the tasks in flight happened to end together, and the
    // next ones were handed out as usual or waited for the last of them, is
    // no point that everything after waits for: cut there, the phase would
    // hold later tasks back behind tasks that only the recorded number of
    // workers ran first. A join with no more between than the usual hand-out
    // (a taskwait and the next task created at once) goes unseen.
    const std::uint64_t dispatch_gap = measure_dispatch_gap(model);
    std::vector<std::uint64_t> earliest_release_from(n + 1, unknown);
    for (std::size_t t = n; t-- > 0;) earliest_release_from[t] = std::min(earliest_release_from[t + 1], waits.released[t]);
    std::uint64_t ended = model.first_timestamp();
    for (std::uint32_t t = 0; t < n; ++t) {
        const execution& x = executions[tasks[t]];
        const bool released_there = released_by_predecessor[t] != unknown && released_by_predecessor[t] >= ended;
        const bool long_enough = x.begin > ended && x.begin - ended > saturating_mul(2, dispatch_gap);
        if (t == 0 || (long_enough && earliest_release_from[t] >= ended && !released_there)) {
            s.dag.phase_begin.push_back(t);
            s.dag.serial.push_back(saturating_sub(x.begin, ended));
        }
        ended = t == 0 ? x.end : std::max(ended, x.end);
    }
    s.dag.serial.push_back(saturating_sub(model.last_timestamp(), ended));
    if (n == 0) s.dag.serial = {s.recorded_ns, 0};

    // Labels: a construct's, whose label no other construct has; else a
    // node's or a name's, looked up as text. A large OpenMP run has a
    // construct per task node, and hashing a text per task costs more than
    // the schedules.
    s.durations.reserve(n);
    std::vector<std::uint32_t> label_of_construct(labels.constructs().size(), no_index);
    std::unordered_map<std::string, std::uint32_t> label_of_text;
    auto add_label = [&](std::string text) {
        s.labels.push_back(std::move(text));
        s.label_time.push_back(0);
        return static_cast<std::uint32_t>(s.labels.size() - 1);
    };
    for (std::uint32_t e : tasks) {
        const execution& x = executions[e];
        s.durations.push_back(x.busy);
        const std::uint32_t construct = x.node != no_index ? labels.construct_of(x.node) : no_index;
        std::uint32_t label = no_index;
        if (construct != no_index) {
            label = label_of_construct[construct];
            if (label == no_index) label = label_of_construct[construct] = add_label(labels.constructs()[construct].label);
        } else {
            std::string text(labels.of_execution(model, x));
            auto found = label_of_text.find(text);
            label = found != label_of_text.end() ? found->second : label_of_text[text] = add_label(text);
        }
        s.label_of.push_back(label);
        s.label_time[label] = saturating_add(s.label_time[label], x.busy);
    }
    s.overheads.start_delay = measure_start_delay(model, tasks, waits.released, s.recorded_workers);
    s.overheads.creation_cost = measure_creation_cost(model);
    return s;
}

std::vector<worker_prediction> predict_runs(const run_schedule& schedule, const std::vector<std::uint64_t>& durations,
                                            const std::vector<std::uint64_t>& workers) {
    const dag_extent extent = measure_extent(schedule.dag, durations);
    std::vector<std::uint64_t> counts = {1};
    for (std::uint64_t p : workers) counts.push_back(std::max<std::uint64_t>(p, 1));
    const std::vector<std::uint64_t> lengths = list_scheduler(schedule.dag, schedule.overheads).lengths(durations, counts);
    const std::uint64_t one = lengths[0];
    std::vector<worker_prediction> predictions;
    for (std::size_t k = 1; k < counts.size(); ++k) {
        worker_prediction row;
        row.workers = counts[k];
        row.time_ns = lengths[k];
        row.speedup = row.time_ns == 0 ? 1 : static_cast<double>(one) / static_cast<double>(row.time_ns);
        row.lower_bound_ns = std::max(ceil_div(extent.work, row.workers), extent.span);
        row.upper_bound_ns = saturating_add(extent.work / row.workers, extent.span);
        predictions.push_back(row);
    }
    return predictions;
}

std::vector<std::uint64_t> default_worker_counts(std::uint64_t recorded) {
    std::vector<std::uint64_t> counts = {1, 2, 4, 8, 16, 32, 64};
    if (recorded > 0 && std::find(counts.begin(), counts.end(), recorded) == counts.end()) {
        counts.push_back(recorded);
        std::sort(counts.begin(), counts.end());
    }
    return counts;
}

scalability_summary summarize_scalability(const run_schedule& schedule) {
    scalability_summary summary;
    summary.predicted = true;
    summary.tasks = schedule.durations.size();
    summary.recorded_workers = schedule.recorded_workers;
    summary.predictions = predict_runs(schedule, schedule.durations, default_worker_counts(schedule.recorded_workers));
    auto time_on = [&](std::uint64_t p) {
        for (const worker_prediction& row : summary.predictions)
            if (row.workers == p) return row.time_ns;
        return std::uint64_t{0};
    };
    for (std::uint64_t p = 1; p <= 32; p *= 2) {
        const std::uint64_t now = time_on(p), doubled = time_on(2 * p);
        if (static_cast<double>(now) < 1.05 * static_cast<double>(doubled)) {
            summary.doubling_gains_under_5_percent_past = p;
            break;
        }
    }
    return summary;
}

label_match match_label(const run_schedule& schedule, const std::string& wanted) {
    label_match match;
    std::vector<std::uint32_t> holding;
    for (std::uint32_t l = 0; l < schedule.labels.size(); ++l) {
        if (schedule.labels[l] == wanted) {
            match.label = l;
            return match;
        }
        if (schedule.labels[l].find(wanted) != std::string::npos) holding.push_back(l);
    }
    if (holding.size() == 1) {
        match.label = holding.front();
        return match;
    }
    match.several = !holding.empty();
    if (holding.empty())
        for (std::uint32_t l = 0; l < schedule.labels.size(); ++l) holding.push_back(l);
    std::stable_sort(holding.begin(), holding.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return schedule.label_time[a] > schedule.label_time[b]; });
    for (std::uint32_t l : holding) match.candidates.push_back(schedule.labels[l]);
    return match;
}

void speed_up(const run_schedule& schedule, std::vector<std::uint64_t>& durations, std::uint32_t label, double factor) {
    for (std::size_t t = 0; t < durations.size(); ++t)
        if (schedule.label_of[t] == label)
            durations[t] = saturating_round(static_cast<long double>(durations[t]) / static_cast<long double>(factor));
}

std::vector<what_if_row> halving_what_ifs(const run_schedule& schedule, std::size_t count) {
    // Halving a label saves at most half its time, so only the heaviest
    // can top the list; a schedule per label of a flow graph of thousands
    // of nodes would cost seconds.
    constexpr std::size_t tried = 16;
    std::vector<std::uint32_t> order(schedule.labels.size());
    for (std::uint32_t l = 0; l < order.size(); ++l) order[l] = l;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return schedule.label_time[a] > schedule.label_time[b]; });
    if (order.size() > tried) order.resize(tried);
    const std::uint64_t workers = schedule.recorded_workers;
    list_scheduler scheduler(schedule.dag, schedule.overheads);
    const std::uint64_t now = scheduler.length(schedule.durations, workers);
    std::vector<what_if_row> rows;
    for (std::uint32_t l : order) {
        std::vector<std::uint64_t> durations = schedule.durations;
        speed_up(schedule, durations, l, 2.0);
        what_if_row row;
        row.label = schedule.labels[l];
        row.time_ns = scheduler.length(durations, workers);
        row.saved_ns = saturating_sub(now, row.time_ns);
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const what_if_row& a, const what_if_row& b) { return a.saved_ns > b.saved_ns; });
    if (rows.size() > count) rows.resize(count);
    return rows;
}

}  // namespace mvt_trace
