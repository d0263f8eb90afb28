#include "output/analyze_problems.h"

#include "common/text_format.h"
#include "output/check_report.h"

namespace mvt_trace {

namespace {

void file_problems(const std::string& path, const file_executions& file, std::vector<std::string>& problems) {
    auto say = [&](std::uint64_t n, const std::string& one, const std::string& many, const std::string& rest) {
        if (n > 0) problems.push_back(path + ": " + counted(n, one, many) + " " + rest);
    };
    say(file.open_tasks, "task execution", "task executions", "still open at the end of the file");
    say(file.open_regions, "region", "regions", "still open at the end of the file");
    say(file.replaced_regions, "region", "regions", "begun again under its identifier before its end (the earlier has no end)");
    say(file.unmatched_task_ends, "task_end record", "task_end records", "with no task execution open");
    say(file.unmatched_region_ends, "region_end record", "region_end records", "with no such region open");
}

}  // namespace

std::string one_line(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

std::string describe_node(const run_analysis& run, std::size_t object) {
    const graph_object& node = run.model.objects()[object];
    std::string text = one_line(node.name()) + " (";
    if (node.name() != node.kind) text += one_line(node.kind) + ", ";
    text += "id " + full_id_text(node.id);
    if (run.processes.size() > 1) text += ", process " + std::to_string(node.process);
    if (node.has_code_address) text += ", " + hex_address(node.code_address);
    return text + ")";
}

std::vector<std::string> analysis_problems(const run_analysis& run) {
    std::vector<std::string> problems;
    for (std::size_t p = 0; p < run.health.size(); ++p) {
        for (const file_health& file : run.health[p].files)
            if (file.report.status != file_status::whole) problems.push_back(problem_line(file.report));
        for (const std::string& reason : run.health[p].mixed_runs)
            problems.push_back(run.processes[p].directory + ": not one run: " + reason);
    }
    for (std::size_t f = 0; f < run.executions_by_file.size(); ++f)
        file_problems(run.files[f].path, run.executions_by_file[f], problems);
    for (const kind_conflict& conflict : run.model.kind_conflicts())
        problems.push_back(run.processes[conflict.process].directory + ": identifier " + full_id_text(conflict.id) +
                           " declared as \"" + conflict.first_kind + "\" and as \"" + conflict.other_kind + "\"");
    const std::size_t unlisted = run.model.kind_conflict_count() - run.model.kind_conflicts().size();
    if (unlisted > 0)
        problems.push_back(counted(unlisted, "more identifier", "more identifiers") +
                           " declared as different kinds of object");
    const dependency_summary& graph = run.dependencies;
    if (graph.condensed_cycles > 0)
        problems.push_back("the dependency graph has " + counted(graph.condensed_cycles, "cycle", "cycles") + " (" +
                           counted(graph.nodes_in_cycles, "node", "nodes") +
                           "): each was condensed into one vertex for work, span and critical path");
    if (!graph.edges_complete)
        problems.push_back("the dependency graph has at least " + counted(graph.edges, "edge", "edges") +
                           ": storage locations that join many nodes to many were not expanded into every pair "
                           "(nodes, work, span and critical path are exact)");
    return problems;
}

}  // namespace mvt_trace
