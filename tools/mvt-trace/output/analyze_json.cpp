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

json node_json(const run_analysis& run, const node_statistics& node) {
    const graph_object& object = run.model.objects()[node.object];
    json row;
    row["id"] = full_id_text(object.id);
    row["process"] = object.process;
    row["name"] = object.name();
    row["kind"] = object.kind;
    if (object.has_code_address) row["code_address"] = hex_address(object.code_address);
    add_stats(row, node.stats);
    return row;
}

json dependency_json(const run_analysis& run) {
    const dependency_summary& graph = run.dependencies;
    json path = json::array();
    for (std::size_t position : graph.critical_path) {
        const graph_object& object = run.model.objects()[position];
        path.push_back({{"id", full_id_text(object.id)},
                        {"process", object.process},
                        {"name", object.name()},
                        {"total_ns", run.total_of(position)}});
    }
    return {{"nodes", graph.nodes.size()},     {"edges", graph.edges}, {"edges_complete", graph.edges_complete},
            {"work_ns", graph.work},           {"span_ns", graph.span},
            {"parallelism", rounded(graph.parallelism)}, {"critical_path", std::move(path)},
            {"condensed_cycles", graph.condensed_cycles}};
}

json concurrency_json(const concurrency_profile& c) {
    json time_at = json::object();
    for (std::size_t k = 0; k < c.time_at.size(); ++k) time_at[std::to_string(k)] = c.time_at[k];
    json mean = json::array();
    for (double m : c.series) mean.push_back(rounded(m));
    return {{"average", rounded(c.average)},
            {"max", c.max},
            {"time_at_ns", std::move(time_at)},
            {"series", {{"bucket_ns", c.bucket_ns}, {"mean", std::move(mean)}}}};
}

json unattached_json(const unattached_statistics& group) {
    json row;
    row["name"] = group.name;
    row["process"] = group.process;
    add_stats(row, group.stats);
    return row;
}

json processes_json(const run_analysis& run) {
    json processes = json::array();
    for (const process_summary& p : run.processes)
        processes.push_back(
            {{"directory", p.directory}, {"files", p.files}, {"threads", p.threads}, {"records", p.records}});
    return processes;
}

// Names come from the trace as bytes; invalid UTF-8 is replaced rather than
// refused, so that any trace gives a parseable object.
std::string text_of(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json analysis_json(const run_analysis& run) {
    json root;
    root["wall_ns"] = run.wall();
    root["threads"] = run.threads;
    root["processes"] = processes_json(run);
    json nodes = json::array();
    for (const node_statistics& node : run.nodes) nodes.push_back(node_json(run, node));
    root["nodes"] = std::move(nodes);
    json unattached = json::array();
    for (const unattached_statistics& group : run.unattached) unattached.push_back(unattached_json(group));
    root["unattached"] = std::move(unattached);
    root["dependency_graph"] = dependency_json(run);
    root["concurrency"] = concurrency_json(run.concurrency);
    root["problems"] = analysis_problems(run);
    return root;
}

// The same object as analysis_json, written a member at a time and the node
// lists a row at a time: a run with hundreds of thousands of nodes would
// otherwise hold them all as a document before the first byte goes out.
void write_analysis_json(const run_analysis& run, std::ostream& out) {
    auto member = [&](const char* name, const json& value, bool last = false) {
        out << " \"" << name << "\": " << text_of(value) << (last ? "\n" : ",\n");
    };
    auto rows = [&](const char* name, std::size_t count, auto row_at) {
        out << " \"" << name << "\": [";
        for (std::size_t i = 0; i < count; ++i) out << (i == 0 ? "\n  " : ",\n  ") << text_of(row_at(i));
        out << (count == 0 ? "],\n" : "\n ],\n");
    };
    out << "{\n";
    member("wall_ns", run.wall());
    member("threads", run.threads);
    member("processes", processes_json(run));
    rows("nodes", run.nodes.size(), [&](std::size_t i) { return node_json(run, run.nodes[i]); });
    rows("unattached", run.unattached.size(), [&](std::size_t i) { return unattached_json(run.unattached[i]); });
    member("dependency_graph", dependency_json(run));
    member("concurrency", concurrency_json(run.concurrency));
    member("problems", analysis_problems(run), true);
    out << "}\n";
}

}  // namespace mvt_trace
