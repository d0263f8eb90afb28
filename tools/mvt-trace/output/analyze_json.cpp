#include "output/analyze_json.h"

#include <cmath>
#include <string>

#include "common/text_format.h"
#include "output/analyze_problems.h"
#include "output/predict_json.h"

namespace mvt_trace {

namespace {

using json = nlohmann::ordered_json;

// Ratios to three decimals: enough for a reader, and no binary noise.
void add_stats(json& row, const duration_stats& s) {
    row["executions"] = s.count();
    row["total_ns"] = s.total();
    row["mean_ns"] = s.mean();
    row["stddev_ns"] = s.stddev();
    row["min_ns"] = s.min();
    row["p50_ns"] = s.p50();
    row["p95_ns"] = s.p95();
    row["max_ns"] = s.max();
}

json node_json(const run_analysis& run, const node_statistics& node) {
    const trace_model& model = run.model;
    const trace_model::object& object = model.objects()[node.object];
    json row;
    row["id"] = full_id_text(object.id);
    row["process"] = object.process;
    row["name"] = model.name_of(object);
    row["label"] = run.labels.of_object(node.object);
    row["kind"] = model.kind_of(object);
    if (object.has_code_address) row["code_address"] = hex_address(object.code_address);
    const code_location* place = run.labels.location_of(node.object);
    if (place && place->known) row["location"] = location_json(*place);
    add_stats(row, node.stats);
    return row;
}

double ratio(std::uint64_t part, std::uint64_t whole) {
    return rounded(whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole));
}

json construct_json(const run_analysis& run, const construct_statistics& row) {
    const run_labels::construct& c = run.labels.constructs()[row.construct];
    json out;
    out["label"] = c.label;
    if (c.location && c.location->known) out["location"] = location_json(*c.location);
    out["nodes"] = c.nodes.size();
    out["executions"] = row.stats.count();
    out["total_ns"] = row.stats.total();
    out["mean_ns"] = row.stats.mean();
    out["p95_ns"] = row.stats.p95();
    out["share_of_work"] = ratio(row.stats.total(), run.dependencies.work);
    out["share_of_span"] = ratio(row.span_time, run.dependencies.span);
    return out;
}

json named_json(const named_statistics& group) {
    json row;
    row["name"] = group.name;
    row["process"] = group.process;
    add_stats(row, group.stats);
    return row;
}

json dependency_json(const run_analysis& run, const analysis_json_options& options) {
    const trace_model& model = run.model;
    const dependency_summary& graph = run.dependencies;
    json path = json::array();
    for (const critical_step& step : graph.critical_path) {
        const trace_model::execution& e = model.executions()[step.execution];
        const trace_model::object& node = model.objects()[e.node];
        path.push_back({{"id", full_id_text(node.id)},
                        {"process", node.process},
                        {"name", model.name_of(node)},
                        {"label", run.labels.of_object(e.node)},
                        {"instance", step.instance},
                        {"begin_ns", model.since_start(e.begin)},
                        {"duration_ns", e.busy}});
    }
    json by_node = json::array();
    for (const path_share& share : graph.path_by_node) {
        const trace_model::object& node = model.objects()[share.object];
        by_node.push_back({{"id", full_id_text(node.id)},
                           {"process", node.process},
                           {"name", model.name_of(node)},
                           {"label", run.labels.of_object(share.object)},
                           {"steps", share.steps},
                           {"total_ns", share.time},
                           {"share", ratio(share.time, graph.span)}});
    }
    json out = {{"nodes", graph.nodes},
                {"edges", graph.edges},
                {"edges_complete", graph.edges_complete},
                {"executions", graph.executions},
                {"execution_edges", graph.execution_edges},
                {"work_ns", graph.work},
                {"span_ns", graph.span},
                {"parallelism", rounded(graph.parallelism)},
                {"critical_path", std::move(path)},
                {"critical_path_by_node", std::move(by_node)}};
    if (options.edge_list) {
        json edges = json::array();
        for (const trace_model::edge& e : model.edges())
            edges.push_back({full_id_text(model.objects()[e.from].id), full_id_text(model.objects()[e.to].id)});
        out["edge_list"] = std::move(edges);
    }
    return out;
}

json profile_json(const concurrency_profile& c) {
    json time_at = json::object();
    for (std::size_t k = 0; k < c.time_at.size(); ++k) time_at[std::to_string(k)] = c.time_at[k];
    json mean = json::array();
    for (double m : c.series) mean.push_back(rounded(m));
    return {{"average", rounded(c.average)},
            {"max", c.max},
            {"time_at_ns", std::move(time_at)},
            {"series", {{"bucket_ns", c.bucket_ns}, {"mean", std::move(mean)}}}};
}

json concurrency_json(const run_analysis& run) {
    json all = profile_json(run.concurrency);
    all["tasks"] = profile_json(run.task_concurrency);
    return all;
}

json processes_json(const trace_model& model) {
    json processes = json::array();
    for (std::uint32_t p = 0; p < model.processes().size(); ++p) {
        const trace_model::process& process = model.processes()[p];
        const trace_model::activity active = model.activity_of(p);
        processes.push_back({{"directory", process.directory},
                             {"files", process.thread_count},
                             {"threads", active.threads},
                             {"records", active.records}});
    }
    return processes;
}

// Names come from the trace as bytes; invalid UTF-8 is replaced rather than
// refused, so that any trace gives a parseable object.
}  // namespace

double rounded(double value) { return std::round(value * 1000) / 1000; }

std::string compact_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json location_json(const code_location& place) {
    json location = {{"function", place.function}, {"file", place.file}, {"line", place.line}};
    if (place.inlined)
        location["inlined_into"] = {
            {"function", place.caller_function}, {"file", place.caller_file}, {"line", place.caller_line}};
    return location;
}

json analysis_json(const run_analysis& run, const analysis_json_options& options) {
    const trace_model& model = run.model;
    json root;
    root["wall_ns"] = model.wall();
    root["threads"] = model.active_threads();
    root["processes"] = processes_json(model);
    json nodes = json::array();
    for (const node_statistics& node : run.statistics.nodes) nodes.push_back(node_json(run, node));
    root["nodes"] = std::move(nodes);
    json constructs = json::array();
    for (const construct_statistics& row : run.constructs) constructs.push_back(construct_json(run, row));
    root["constructs"] = std::move(constructs);
    json unattached = json::array();
    for (const named_statistics& group : run.statistics.unattached) unattached.push_back(named_json(group));
    root["unattached"] = std::move(unattached);
    root["tasks_without_dependences"] = {{"executions", run.tasks_without_node},
                                         {"total_ns", run.tasks_without_node_ns}};
    json runtime = json::array();
    for (const node_statistics& node : run.statistics.runtime_nodes) runtime.push_back(node_json(run, node));
    for (const named_statistics& group : run.statistics.runtime) runtime.push_back(named_json(group));
    root["runtime"] = std::move(runtime);
    root["dependency_graph"] = dependency_json(run, options);
    root["scalability"] = scalability_json(run.scalability);
    root["concurrency"] = concurrency_json(run);
    root["problems"] = finding_lines(model, severity::problem);
    std::vector<std::string> notes = finding_lines(model, severity::note);
    notes.insert(notes.end(), run.hints.begin(), run.hints.end());
    root["notes"] = notes;
    return root;
}

void write_analysis_json(const run_analysis& run, std::ostream& out, const analysis_json_options& options) {
    const trace_model& model = run.model;
    auto member = [&](const char* name, const json& value, bool last = false) {
        out << " \"" << name << "\": " << compact_text(value) << (last ? "\n" : ",\n");
    };
    auto rows = [&](const char* name, std::size_t count, auto row_at) {
        out << " \"" << name << "\": [";
        for (std::size_t i = 0; i < count; ++i) out << (i == 0 ? "\n  " : ",\n  ") << compact_text(row_at(i));
        out << (count == 0 ? "],\n" : "\n ],\n");
    };
    const execution_statistics& stats = run.statistics;
    out << "{\n";
    member("wall_ns", model.wall());
    member("threads", model.active_threads());
    member("processes", processes_json(model));
    rows("nodes", stats.nodes.size(), [&](std::size_t i) { return node_json(run, stats.nodes[i]); });
    rows("constructs", run.constructs.size(), [&](std::size_t i) { return construct_json(run, run.constructs[i]); });
    rows("unattached", stats.unattached.size(), [&](std::size_t i) { return named_json(stats.unattached[i]); });
    member("tasks_without_dependences",
           json{{"executions", run.tasks_without_node}, {"total_ns", run.tasks_without_node_ns}});
    rows("runtime", stats.runtime_nodes.size() + stats.runtime.size(), [&](std::size_t i) {
        return i < stats.runtime_nodes.size() ? node_json(run, stats.runtime_nodes[i])
                                              : named_json(stats.runtime[i - stats.runtime_nodes.size()]);
    });
    member("dependency_graph", dependency_json(run, options));
    member("scalability", scalability_json(run.scalability));
    member("concurrency", concurrency_json(run));
    member("problems", finding_lines(model, severity::problem));
    std::vector<std::string> notes = finding_lines(model, severity::note);
    notes.insert(notes.end(), run.hints.begin(), run.hints.end());
    member("notes", notes, true);
    out << "}\n";
}

}  // namespace mvt_trace
