#include "output/analyze_problems.h"

#include "common/text_format.h"

namespace mvt_trace {

std::string one_line(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

std::vector<std::string> finding_lines(const trace_model& model, severity level) {
    std::vector<std::string> lines;
    for (const finding& f : model.findings())
        if (severity_of(f.kind) == level) lines.push_back(one_line(finding_text(f, model)));
    return lines;
}

std::string describe_node(const trace_model& model, std::uint32_t object) {
    const trace_model::object& node = model.objects()[object];
    std::string text = one_line(std::string(model.name_of(node))) + " (";
    if (model.name_of(node) != model.kind_of(node)) text += one_line(std::string(model.kind_of(node))) + ", ";
    text += "id " + full_id_text(node.id);
    if (model.processes().size() > 1) text += ", process " + std::to_string(node.process);
    if (node.has_code_address) text += ", " + hex_address(node.code_address);
    return text + ")";
}

std::string describe_step(const trace_model& model, const critical_step& step) {
    const trace_model::execution& e = model.executions()[step.execution];
    const trace_model::object& node = model.objects()[e.node];
    std::string text = one_line(std::string(model.name_of(node))) + " #" + std::to_string(step.instance) + " (";
    if (model.name_of(node) != model.kind_of(node)) text += one_line(std::string(model.kind_of(node))) + ", ";
    text += "id " + full_id_text(node.id);
    if (model.processes().size() > 1) text += ", process " + std::to_string(node.process);
    return text + ")";
}

}  // namespace mvt_trace
