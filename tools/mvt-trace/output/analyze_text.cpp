#include "output/analyze_text.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <string>

#include "common/text_format.h"
#include "common/terminal_text.h"
#include "output/analyze_problems.h"
#include "output/predict_text.h"

namespace mvt_trace {

namespace {

constexpr std::size_t shown_rows = 20;
constexpr std::size_t shown_path = 20;

std::string percent(std::uint64_t part, std::uint64_t whole) {
    return fixed(whole == 0 ? 0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + "%";
}

void write_header(const run_analysis& run, std::ostream& out) {
    const trace_model& model = run.model;
    const trace_model::activity run_activity = model.activity_of();
    out << "run: wall " << format_duration(model.wall()) << ", "
        << counted(run_activity.threads, "thread", "threads") << ", "
        << counted(model.processes().size(), "process", "processes") << " ("
        << counted(model.threads().size(), "file", "files") << ", "
        << counted(run_activity.records, "record", "records") << ")\n";
    if (model.processes().size() < 2) return;
    for (std::uint32_t p = 0; p < model.processes().size(); ++p) {
        const trace_model::activity active = model.activity_of(p);
        out << "  process " << p << ": " << printable(model.processes()[p].directory) << ", "
            << counted(active.threads, "thread", "threads") << ", " << counted(active.records, "record", "records")
            << "\n";
    }
}

void write_columns(std::ostream& out, const char* last) {
    out << "  " << std::setw(10) << "total" << std::setw(11) << "executions";
    for (const char* name : {"mean", "stddev", "min", "p50", "p95", "max"}) out << std::setw(11) << name;
    out << "  " << last << "\n";
}

void write_row(std::ostream& out, const duration_stats& s, const std::string& what) {
    out << "  " << std::setw(10) << format_duration(s.total()) << std::setw(11) << s.count();
    for (std::uint64_t v : {s.mean(), s.stddev(), s.min(), s.p50(), s.p95(), s.max()})
        out << std::setw(11) << format_duration(v);
    out << "  " << what << "\n";
}

void write_more(std::ostream& out, std::size_t total, std::size_t shown) {
    if (total > shown) out << "  ... " << (total - shown) << " more\n";
}

std::string named(const run_analysis& run, const named_statistics& group) {
    std::string what = printable(group.name);
    if (run.model.processes().size() > 1) what += " (process " + std::to_string(group.process) + ")";
    return what;
}

void write_nodes(const run_analysis& run, std::ostream& out) {
    const std::vector<node_statistics>& nodes = run.statistics.nodes;
    out << "\ntasks: " << counted(nodes.size(), "node", "nodes") << " with executions, by total time\n";
    if (nodes.empty()) return;
    write_columns(out, "node");
    for (std::size_t i = 0; i < nodes.size() && i < shown_rows; ++i)
        write_row(out, nodes[i].stats, describe_node(run, nodes[i].object));
    write_more(out, nodes.size(), shown_rows);
}

void write_constructs(const run_analysis& run, std::ostream& out) {
    const std::vector<construct_statistics>& rows = run.constructs;
    // A construct of one node says nothing the node table does not.
    if (rows.empty() || rows.size() == run.statistics.nodes.size()) return;
    const std::uint64_t work = run.dependencies.work, span = run.dependencies.span;
    out << "\nconstructs: " << counted(rows.size(), "construct", "constructs")
        << " (the task nodes of one piece of code), by total time\n";
    out << "  " << std::setw(10) << "total" << std::setw(7) << "nodes" << std::setw(11) << "executions"
        << std::setw(11) << "mean" << std::setw(11) << "p95" << std::setw(8) << "work" << std::setw(8) << "span"
        << "  construct\n";
    for (std::size_t i = 0; i < rows.size() && i < shown_rows; ++i) {
        const construct_statistics& row = rows[i];
        const run_labels::construct& c = run.labels.constructs()[row.construct];
        out << "  " << std::setw(10) << format_duration(row.stats.total()) << std::setw(7) << c.nodes.size()
            << std::setw(11) << row.stats.count() << std::setw(11) << format_duration(row.stats.mean())
            << std::setw(11) << format_duration(row.stats.p95()) << std::setw(8) << percent(row.stats.total(), work)
            << std::setw(8) << percent(row.span_time, span) << "  " << printable(c.label) << "\n";
    }
    write_more(out, rows.size(), shown_rows);
}

void write_unattached(const run_analysis& run, std::ostream& out) {
    const std::vector<named_statistics>& groups = run.statistics.unattached;
    if (groups.empty()) return;
    out << "\ntasks without dependences: " << counted(run.tasks_without_node, "execution", "executions") << ", "
        << format_duration(run.tasks_without_node_ns)
        << " (OpenMP makes no node for them: they are outside the dependency graph)\n";
    write_columns(out, "name");
    for (std::size_t i = 0; i < groups.size() && i < shown_rows; ++i) write_row(out, groups[i].stats, named(run, groups[i]));
    write_more(out, groups.size(), shown_rows);
}

void write_runtime(const run_analysis& run, std::ostream& out) {
    const execution_statistics& stats = run.statistics;
    const std::size_t rows = stats.runtime_nodes.size() + stats.runtime.size();
    if (rows == 0) return;
    out << "\nthe runtime's own executions (parallel regions, implicit tasks, barriers, ...), by total time\n";
    write_columns(out, "name");
    std::size_t shown = 0;
    for (std::size_t i = 0; i < stats.runtime_nodes.size() && shown < shown_rows; ++i, ++shown)
        write_row(out, stats.runtime_nodes[i].stats, describe_node(run, stats.runtime_nodes[i].object));
    for (std::size_t i = 0; i < stats.runtime.size() && shown < shown_rows; ++i, ++shown)
        write_row(out, stats.runtime[i].stats, named(run, stats.runtime[i]));
    write_more(out, rows, shown);
}

void write_dependencies(const run_analysis& run, std::ostream& out) {
    const dependency_summary& graph = run.dependencies;
    out << "\ndependency graph: " << counted(graph.nodes, "node", "nodes") << ", "
        << (graph.edges_complete ? "" : "at least ") << counted(graph.edges, "edge", "edges")
        << "; graph of executions: " << counted(graph.executions, "execution", "executions") << ", "
        << counted(graph.execution_edges, "edge", "edges") << "\n";
    if (graph.executions == 0) return;
    out << "  work " << format_duration(graph.work) << ", span " << format_duration(graph.span) << ", parallelism "
        << fixed(graph.parallelism, 2) << "\n";
    // Steps in a row of one construct read as one line: a chain of a
    // thousand sweeps is "1000 x sweep (jacobi.c:57)".
    out << "  critical path (" << counted(graph.critical_path.size(), "execution", "executions") << "):\n";
    std::size_t lines = 0, i = 0;
    for (; i < graph.critical_path.size() && lines < shown_path; ++lines) {
        const critical_step& step = graph.critical_path[i];
        const std::uint32_t node = run.model.executions()[step.execution].node;
        const std::uint32_t construct = run.labels.construct_of(node);
        std::size_t j = i;
        std::uint64_t time = 0;
        for (; j < graph.critical_path.size(); ++j) {
            const trace_model::execution& e = run.model.executions()[graph.critical_path[j].execution];
            if (j > i && (construct == no_index || run.labels.construct_of(e.node) != construct)) break;
            time += e.busy;
        }
        out << "  " << std::setw(10) << format_duration(time) << "  ";
        if (j - i > 1)
            out << (j - i) << " x " << printable(run.labels.constructs()[construct].label) << "\n";
        else
            out << describe_step(run, step) << "\n";
        i = j;
    }
    if (i < graph.critical_path.size())
        out << "  ... " << counted(graph.critical_path.size() - i, "more execution", "more executions") << "\n";
    // Which constructs hold the span: for a flow graph its nodes, for
    // OpenMP the pieces of code whose tasks lie on the path.
    std::vector<std::pair<std::uint32_t, path_share>> shares;
    for (const path_share& share : graph.path_by_node) {
        const std::uint32_t c = run.labels.construct_of(share.object);
        auto at = std::find_if(shares.begin(), shares.end(), [&](const auto& s) { return s.first == c; });
        if (c == no_index || at == shares.end()) {
            shares.push_back({c, share});
            continue;
        }
        at->second.steps += share.steps;
        at->second.time += share.time;
    }
    if (shares.size() < 2) return;
    std::stable_sort(shares.begin(), shares.end(), [](const auto& a, const auto& b) { return a.second.time > b.second.time; });
    out << "  most of the span:\n";
    for (std::size_t k = 0; k < shares.size() && k < 5; ++k) {
        const auto& [c, share] = shares[k];
        out << "  " << std::setw(10) << format_duration(share.time) << std::setw(7) << percent(share.time, graph.span)
            << "  " << counted(share.steps, "execution", "executions") << " of "
            << (c == no_index ? describe_node(run, share.object) : printable(run.labels.constructs()[c].label)) << "\n";
    }
}

void write_profile(const concurrency_profile& c, std::uint64_t wall, std::ostream& out) {
    if (wall == 0) return;
    out << "  " << std::setw(5) << "busy" << std::setw(12) << "time" << std::setw(8) << "share" << "\n";
    for (std::size_t k = 0; k < c.time_at.size(); ++k)
        out << "  " << std::setw(5) << k << std::setw(12) << format_duration(c.time_at[k]) << std::setw(8)
            << percent(c.time_at[k], wall) << "\n";
}

void write_concurrency(const run_analysis& run, std::ostream& out) {
    const std::uint64_t wall = run.model.wall();
    const concurrency_profile& all = run.concurrency;
    const concurrency_profile& tasks = run.task_concurrency;
    out << "\nconcurrency: threads busy at once with the program's tasks, average " << fixed(tasks.average, 2)
        << ", at most " << tasks.max << "\n";
    write_profile(tasks, wall, out);
    out << "  with any execution, the runtime's own included: average " << fixed(all.average, 2) << ", at most "
        << all.max << "\n";
    bool openmp = false;
    for (const trace_model::process& p : run.model.processes()) openmp = openmp || !p.openmp_domains.empty();
    if (openmp)
        out << "  (an OpenMP implicit task counts from its begin to its end, waits at barriers included)\n";
}

void write_findings(const run_analysis& run, std::ostream& out) {
    const std::vector<std::string> problems = finding_lines(run.model, severity::problem);
    out << "\nproblems: " << (problems.empty() ? "none" : std::to_string(problems.size())) << "\n";
    for (const std::string& problem : problems) out << "  - " << printable(problem) << "\n";
    std::vector<std::string> notes = finding_lines(run.model, severity::note);
    notes.insert(notes.end(), run.hints.begin(), run.hints.end());
    if (notes.empty()) return;
    out << "notes:\n";
    for (const std::string& note : notes) out << "  - " << printable(note) << "\n";
}

}  // namespace

void write_analysis_text(const run_analysis& run, std::ostream& out) {
    write_header(run, out);
    write_nodes(run, out);
    write_constructs(run, out);
    write_unattached(run, out);
    write_dependencies(run, out);
    out << "\n" << scalability_line(run.scalability) << "\n";
    write_runtime(run, out);
    write_concurrency(run, out);
    write_findings(run, out);
}

}  // namespace mvt_trace
