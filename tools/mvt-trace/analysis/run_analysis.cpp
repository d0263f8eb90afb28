#include "analysis/run_analysis.h"

#include <algorithm>
#include <future>
#include <unordered_map>

#include "analysis/rows_by_total.h"
#include "model/model_builder.h"
#include "symbols/symbol_resolver.h"

namespace mvt_trace {

namespace {

dependency_summary summarize_graph(const trace_model& model, const execution_graph& graph) {
    dependency_summary summary;
    std::vector<char> joined(model.objects().size(), 0);
    for (const trace_model::edge& e : model.edges()) joined[e.from] = joined[e.to] = 1;
    summary.nodes = static_cast<std::size_t>(std::count(joined.begin(), joined.end(), 1));
    summary.edges = model.edges().size();
    summary.edges_complete = model.edges_complete();
    summary.executions = graph.members.size();
    summary.execution_edges = graph.edges();
    const path_summary path = longest_path(graph, recorded_durations(model, graph));
    summary.work = path.work;
    summary.span = path.span;
    summary.parallelism = path.parallelism;
    std::unordered_map<std::uint32_t, std::size_t> share_of;
    for (std::uint32_t place : path.critical_path) {
        const std::uint32_t e = graph.members[place];
        const trace_model::execution& x = model.executions()[e];
        // Which of its node's executions: they are listed in the order they
        // began, and positions grow with that order.
        const compressed_rows& of = model.executions_of();
        const std::uint32_t* row = of.row_begin(x.node);
        const std::uint32_t instance = static_cast<std::uint32_t>(std::lower_bound(row, of.row_end(x.node), e) - row) + 1;
        summary.critical_path.push_back({e, instance});
        auto [at, added] = share_of.emplace(x.node, summary.path_by_node.size());
        if (added) summary.path_by_node.push_back({x.node, 0, 0});
        path_share& share = summary.path_by_node[at->second];
        ++share.steps;
        share.time += x.busy;
    }
    std::stable_sort(summary.path_by_node.begin(), summary.path_by_node.end(),
                     [](const path_share& a, const path_share& b) { return a.time > b.time; });
    return summary;
}

std::vector<construct_statistics> gather_constructs(const trace_model& model, const run_labels& labels,
                                                   const execution_statistics& statistics,
                                                   const dependency_summary& dependencies) {
    std::vector<construct_statistics> rows(labels.constructs().size());
    if (rows.empty()) return rows;  // a run of no task nodes
    // A construct's executions are its nodes': the row of a node whose
    // executions are all tasks is merged in whole. A node that also ran as
    // the runtime's has a row of both, so its task executions are counted
    // one by one.
    std::vector<char> one_by_one(model.objects().size(), 0);
    bool any_one_by_one = false;
    for (std::uint32_t c = 0; c < rows.size(); ++c) {
        rows[c].construct = c;
        for (std::uint32_t node : labels.constructs()[c].nodes) {
            const std::uint32_t r = node < statistics.row_of_object.size() ? statistics.row_of_object[node] : no_index;
            if (r == no_index) continue;
            if (r & execution_statistics::runtime_row) {
                one_by_one[node] = 1;
                any_one_by_one = true;
            } else {
                rows[c].stats.merge(statistics.nodes[r].stats);
            }
        }
    }
    if (any_one_by_one)
        for (const trace_model::execution& e : model.executions()) {
            if (e.open_at_end || e.node == no_index || e.role != trace_model::execution_role::task) continue;
            if (!one_by_one[e.node]) continue;
            const std::uint32_t c = labels.construct_of(e.node);
            if (c != no_index) rows[c].stats.add(e.busy);
        }
    for (const critical_step& step : dependencies.critical_path) {
        const trace_model::execution& e = model.executions()[step.execution];
        const std::uint32_t c = labels.construct_of(e.node);
        if (c != no_index) rows[c].span_time += e.busy;
    }
    sort_by_total(rows);
    return rows;
}

}  // namespace

void add_graphs(run_analysis& run) {
    run.graph = build_execution_graph(run.model);
    run.dependencies = summarize_graph(run.model, run.graph);
}

trace_model read_model(const run_layout& layout, const pass_options& options) {
    model_builder builder(layout);
    read_run(layout.files(), {&builder}, options);
    return builder.build();
}

run_analysis analyze_model(trace_model model,
                           const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>* places,
                           analysis_depth depth) {
    run_analysis run;
    run.model = std::move(model);
    // The parts read the model (and its labels and graph, once made) and
    // each writes its own member, so they run side by side: concurrency
    // needs neither labels nor graph and starts at once.
    std::future<void> measured, measured_tasks;
    if (depth == analysis_depth::everything) {
        measured = std::async(std::launch::async, [&run] { run.concurrency = measure_concurrency(run.model, false); });
        measured_tasks =
            std::async(std::launch::async, [&run] { run.task_concurrency = measure_concurrency(run.model, true); });
    }
    run.labels = run_labels(run.model, places);
    if (depth == analysis_depth::model_and_labels) return run;
    add_graphs(run);
    if (depth == analysis_depth::model_and_graphs) return run;
    if (depth == analysis_depth::schedule) {
        run.schedule = schedule_of_run(run.model, run.labels, run.graph);
        return run;
    }
    std::uint64_t tasks = 0;
    for (const trace_model::execution& e : run.model.executions()) tasks += e.is_work() && !e.open_at_end;
    std::future<void> predicted = std::async(std::launch::async, [&run, tasks] {
        run.scalability.tasks = tasks;
        if (tasks > predicted_in_analysis_at_most) return;
        run.schedule = schedule_of_run(run.model, run.labels, run.graph);
        run.scalability = summarize_scalability(run.schedule);
    });
    run.statistics = gather_statistics(run.model);
    run.constructs = gather_constructs(run.model, run.labels, run.statistics, run.dependencies);
    measured.get();
    measured_tasks.get();
    predicted.get();
    for (const named_statistics& group : run.statistics.unattached) {
        run.tasks_without_node += group.stats.count();
        run.tasks_without_node_ns += group.stats.total();
    }
    return run;
}

namespace {

code_location located(const source_place& place) {
    code_location location;
    location.text = place.label();
    location.known = place.resolved && place.frame.line != 0;
    location.function = place.frame.function;
    location.file = place.frame.file;
    location.line = place.frame.line;
    if (place.inlined_into) {
        location.inlined = true;
        location.caller_function = place.inlined_into->function;
        location.caller_file = place.inlined_into->file;
        location.caller_line = place.inlined_into->line;
    }
    return location;
}

}  // namespace

run_analysis analyze_run(const run_layout& layout, const pass_options& options, analysis_depth depth) {
    trace_model model = read_model(layout, options);
    // Each process's code addresses, each once, named through its modules.
    std::vector<std::vector<std::pair<std::uint64_t, code_location>>> places(model.processes().size());
    std::vector<std::vector<std::uint64_t>> addresses(model.processes().size());
    for (const trace_model::object& o : model.objects())
        if (o.has_code_address) addresses[o.process].push_back(o.code_address);
    std::vector<std::string> hints;
    for (std::size_t p = 0; p < addresses.size() && p < layout.processes.size(); ++p) {
        std::vector<std::uint64_t>& wanted = addresses[p];
        if (wanted.empty()) continue;
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
        symbol_resolver resolver = symbol_resolver::for_process(layout.processes[p]);
        const std::vector<source_place> found = resolver.resolve(wanted);
        for (std::size_t k = 0; k < wanted.size() && k < found.size(); ++k)
            places[p].push_back({wanted[k], located(found[k])});
        const std::string hint = resolver.hint();
        if (!hint.empty() && std::find(hints.begin(), hints.end(), hint) == hints.end()) hints.push_back(hint);
    }
    run_analysis run = analyze_model(std::move(model), &places, depth);
    run.hints = std::move(hints);
    return run;
}

}  // namespace mvt_trace
