#include "output/analyze_problems.h"

#include "common/terminal_text.h"
#include "common/text_format.h"

namespace mvt_trace {

std::vector<std::string> finding_lines(const trace_model& model, severity level) {
    std::vector<std::string> lines;
    for (const finding& f : model.findings())
        if (severity_of(f.kind) == level) lines.push_back(finding_text(f, model));
    return lines;
}

namespace {

std::string what_tells_apart(const run_analysis& run, std::uint32_t object) {
    const trace_model& model = run.model;
    const trace_model::object& node = model.objects()[object];
    std::string text = " (";
    // OpenMP's nodes are all of one kind: it tells nothing apart.
    if (!node.openmp && run.labels.of_object(object).find(std::string(model.kind_of(node))) == std::string::npos)
        text += printable(std::string(model.kind_of(node))) + ", ";
    text += "id " + full_id_text(node.id);
    if (model.processes().size() > 1) text += ", process " + std::to_string(node.process);
    return text + ")";
}

}  // namespace

std::string describe_node(const run_analysis& run, std::uint32_t object) {
    return printable(run.labels.of_object(object)) + what_tells_apart(run, object);
}

std::string describe_step(const run_analysis& run, const critical_step& step) {
    const std::uint32_t node = run.model.executions()[step.execution].node;
    return printable(run.labels.of_object(node)) + " #" + std::to_string(step.instance) + what_tells_apart(run, node);
}

}  // namespace mvt_trace
