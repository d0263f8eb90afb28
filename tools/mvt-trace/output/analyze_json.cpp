#include "output/analyze_json.h"

#include <cmath>
#include <string>

#include "common/text_format.h"
#include "output/analyze_problems.h"

namespace mvt_trace {

namespace {

using json = nlohmann::ordered_json;

// Ratios to three decimals: enough for a reader, and no binary noise.
double rounded(double value) { return std::round(value * 1000) / 1000; }

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

json node_json(const trace_model& model, const node_statistics& node) {
    const trace_model::object& object = model.objects()[node.object];
    json row;
    row["id"] = full_id_text(object.id);
    row["process"] = object.process;
    row["name"] = model.name_of(object);
    row["kind"] = model.kind_of(object);
    if (object.has_code_address) row["code_address"] = hex_address(object.code_address);
    add_stats(row, node.stats);
    return row;
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
                        {"instance", step.instance},
                        {"begin_ns", e.begin - model.first_timestamp()},
                        {"duration_ns", e.busy}});
    }
    json by_node = json::array();
    for (const path_share& share : graph.path_by_node) {
        const trace_model::object& node = model.objects()[share.object];
        by_node.push_back({{"id", full_id_text(node.id)},
                           {"process", node.process},
                           {"name", model.name_of(node)},
                           {"steps", share.steps},
                           {"total_ns", share.time},
                           {"share", rounded(graph.span == 0 ? 0 : static_cast<double>(share.time) /
                                                                       static_cast<double>(graph.span))}});
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
        std::size_t threads = 0;
        std::uint64_t records = 0;
        for (std::uint32_t t = process.first_thread; t < process.first_thread + process.thread_count; ++t) {
            records += model.threads()[t].records;
            threads += model.threads()[t].records > 0 ? 1 : 0;
        }
        processes.push_back({{"directory", process.directory},
                             {"files", process.thread_count},
                             {"threads", threads},
                             {"records", records}});
    }
    return processes;
}

// Names come from the trace as bytes; invalid UTF-8 is replaced rather than
// refused, so that any trace gives a parseable object.
std::string text_of(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json analysis_json(const run_analysis& run, const analysis_json_options& options) {
    const trace_model& model = run.model;
    json root;
    root["wall_ns"] = model.wall();
    root["threads"] = model.active_threads();
    root["processes"] = processes_json(model);
    json nodes = json::array();
    for (const node_statistics& node : run.statistics.nodes) nodes.push_back(node_json(model, node));
    root["nodes"] = std::move(nodes);
    json unattached = json::array();
    for (const named_statistics& group : run.statistics.unattached) unattached.push_back(named_json(group));
    root["unattached"] = std::move(unattached);
    root["tasks_without_dependences"] = {{"executions", run.tasks_without_node},
                                         {"total_ns", run.tasks_without_node_ns}};
    json runtime = json::array();
    for (const node_statistics& node : run.statistics.runtime_nodes) runtime.push_back(node_json(model, node));
    for (const named_statistics& group : run.statistics.runtime) runtime.push_back(named_json(group));
    root["runtime"] = std::move(runtime);
    root["dependency_graph"] = dependency_json(run, options);
    root["concurrency"] = concurrency_json(run);
    root["problems"] = finding_lines(model, severity::problem);
    root["notes"] = finding_lines(model, severity::note);
    return root;
}

void write_analysis_json(const run_analysis& run, std::ostream& out, const analysis_json_options& options) {
    const trace_model& model = run.model;
    auto member = [&](const char* name, const json& value, bool last = false) {
        out << " \"" << name << "\": " << text_of(value) << (last ? "\n" : ",\n");
    };
    auto rows = [&](const char* name, std::size_t count, auto row_at) {
        out << " \"" << name << "\": [";
        for (std::size_t i = 0; i < count; ++i) out << (i == 0 ? "\n  " : ",\n  ") << text_of(row_at(i));
        out << (count == 0 ? "],\n" : "\n ],\n");
    };
    const execution_statistics& stats = run.statistics;
    out << "{\n";
    member("wall_ns", model.wall());
    member("threads", model.active_threads());
    member("processes", processes_json(model));
    rows("nodes", stats.nodes.size(), [&](std::size_t i) { return node_json(model, stats.nodes[i]); });
    rows("unattached", stats.unattached.size(), [&](std::size_t i) { return named_json(stats.unattached[i]); });
    member("tasks_without_dependences",
           json{{"executions", run.tasks_without_node}, {"total_ns", run.tasks_without_node_ns}});
    rows("runtime", stats.runtime_nodes.size() + stats.runtime.size(), [&](std::size_t i) {
        return i < stats.runtime_nodes.size() ? node_json(model, stats.runtime_nodes[i])
                                              : named_json(stats.runtime[i - stats.runtime_nodes.size()]);
    });
    member("dependency_graph", dependency_json(run, options));
    member("concurrency", concurrency_json(run));
    member("problems", finding_lines(model, severity::problem));
    member("notes", finding_lines(model, severity::note), true);
    out << "}\n";
}

}  // namespace mvt_trace
