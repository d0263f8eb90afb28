#include "output/analyze_text.h"

#include <cstdio>
#include <iomanip>
#include <string>

#include "common/text_format.h"
#include "output/analyze_problems.h"

namespace mvt_trace {

namespace {

constexpr std::size_t shown_rows = 20;
constexpr std::size_t shown_path = 20;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void write_header(const run_analysis& run, std::ostream& out) {
    std::uint64_t files = 0, records = 0;
    for (const process_summary& p : run.processes) {
        files += p.files;
        records += p.records;
    }
    out << "run: wall " << format_duration(run.wall()) << ", " << counted(run.threads, "thread", "threads") << ", "
        << counted(run.processes.size(), "process", "processes") << " (" << counted(files, "file", "files") << ", "
        << counted(records, "record", "records") << ")\n";
    if (run.processes.size() < 2) return;
    for (std::size_t p = 0; p < run.processes.size(); ++p) {
        const process_summary& process = run.processes[p];
        out << "  process " << p << ": " << process.directory << ", " << counted(process.threads, "thread", "threads")
            << ", " << counted(process.records, "record", "records") << "\n";
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

void write_nodes(const run_analysis& run, std::ostream& out) {
    out << "\nnodes: " << counted(run.nodes.size(), "node", "nodes") << " with executions, by total time\n";
    if (run.nodes.empty()) return;
    write_columns(out, "node");
    for (std::size_t i = 0; i < run.nodes.size() && i < shown_rows; ++i)
        write_row(out, run.nodes[i].stats, describe_node(run, run.nodes[i].object));
    write_more(out, run.nodes.size(), shown_rows);
}

void write_unattached(const run_analysis& run, std::ostream& out) {
    if (run.unattached.empty()) return;
    out << "\nunattached executions (in no node), by name\n";
    write_columns(out, "name");
    for (std::size_t i = 0; i < run.unattached.size() && i < shown_rows; ++i) {
        const unattached_statistics& group = run.unattached[i];
        std::string what = one_line(group.name);
        if (run.processes.size() > 1) what += " (process " + std::to_string(group.process) + ")";
        write_row(out, group.stats, what);
    }
    write_more(out, run.unattached.size(), shown_rows);
}

void write_dependencies(const run_analysis& run, std::ostream& out) {
    const dependency_summary& graph = run.dependencies;
    out << "\ndependency graph: " << counted(graph.nodes.size(), "node", "nodes") << ", "
        << (graph.edges_complete ? "" : "at least ") << counted(graph.edges, "edge", "edges") << "\n";
    if (graph.nodes.empty()) return;
    out << "  work " << format_duration(graph.work) << ", span " << format_duration(graph.span) << ", parallelism "
        << fixed(graph.parallelism, 2) << "\n";
    out << "  critical path (" << counted(graph.critical_path.size(), "node", "nodes") << "):\n";
    for (std::size_t i = 0; i < graph.critical_path.size() && i < shown_path; ++i) {
        const std::size_t object = graph.critical_path[i];
        out << "  " << std::setw(10) << format_duration(run.total_of(object)) << "  " << describe_node(run, object)
            << "\n";
    }
    write_more(out, graph.critical_path.size(), shown_path);
}

void write_concurrency(const run_analysis& run, std::ostream& out) {
    const concurrency_profile& c = run.concurrency;
    out << "\nconcurrency: threads busy at once, average " << fixed(c.average, 2) << ", at most " << c.max << "\n";
    if (run.wall() == 0) return;
    out << "  " << std::setw(5) << "busy" << std::setw(12) << "time" << std::setw(8) << "share" << "\n";
    for (std::size_t k = 0; k < c.time_at.size(); ++k) {
        const double share = 100.0 * static_cast<double>(c.time_at[k]) / static_cast<double>(run.wall());
        out << "  " << std::setw(5) << k << std::setw(12) << format_duration(c.time_at[k]) << std::setw(7)
            << fixed(share, 1) << "%\n";
    }
}

void write_problems(const run_analysis& run, std::ostream& out) {
    const std::vector<std::string> problems = analysis_problems(run);
    out << "\nproblems: " << (problems.empty() ? "none" : std::to_string(problems.size())) << "\n";
    for (const std::string& problem : problems) out << "  - " << problem << "\n";
}

}  // namespace

void write_analysis_text(const run_analysis& run, std::ostream& out) {
    write_header(run, out);
    write_nodes(run, out);
    write_unattached(run, out);
    write_dependencies(run, out);
    write_concurrency(run, out);
    write_problems(run, out);
}

}  // namespace mvt_trace
