#include "output/report/report_data.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "common/json_text.h"
#include "common/text_format.h"
#include "output/analyze_json.h"
#include "output/analyze_problems.h"
#include "output/graph_drawing.h"
#include "output/report/graphviz.h"
#include "output/report/recorded_run.h"
#include "output/report/report_page.h"

namespace mvt_trace {

namespace {

std::string string_array(const std::vector<std::string>& items) {
    std::string json = "[";
    for (std::size_t i = 0; i < items.size(); ++i) json += (i == 0 ? "" : ",") + json_quoted(items[i]);
    return json + "]";
}

// The "run" object: the title is the recorded command line, where record
// left one, else the directory.
void write_run(const run_analysis& run, std::ostream& out) {
    const trace_model& model = run.model;
    std::vector<std::string> titles, directories;
    std::optional<recorded_run> first_recorded;
    for (std::size_t p = 0; p < model.processes().size(); ++p) {
        const std::string& directory = model.processes()[p].directory;
        directories.push_back(directory);
        const std::optional<recorded_run> recorded = read_recorded_run(directory);
        titles.push_back(recorded ? command_line(recorded->command) : directory);
        if (p == 0) first_recorded = recorded;
    }
    std::string title;
    for (const std::string& t : titles) title += (title.empty() ? "" : ", ") + t;
    std::vector<std::string> notes = finding_lines(model, severity::note);
    notes.insert(notes.end(), run.hints.begin(), run.hints.end());
    std::uint64_t records = 0;
    for (const trace_model::thread& t : model.threads()) records += t.records;
    out << "{\"title\":" << json_quoted(title) << ",\"directories\":" << string_array(directories)
        << ",\"command\":" << (first_recorded ? string_array(first_recorded->command) : "null")
        << ",\"exit_status\":"
        << (first_recorded && first_recorded->exit_status ? std::to_string(*first_recorded->exit_status) : "null")
        << ",\"outcome\":" << (first_recorded ? json_quoted(first_recorded->outcome) : "null")
        << ",\"origin_utc\":" << json_quoted(format_utc(model.first_timestamp())) << ",\"wall_ns\":" << model.wall()
        << ",\"threads\":" << model.active_threads() << ",\"files\":" << model.threads().size()
        << ",\"records\":" << records << ",\"problems\":" << string_array(finding_lines(model, severity::problem))
        << ",\"notes\":" << string_array(notes) << "}";
}

// The analysis as analyze --json gives it, its node list cut to the page's
// size: the heaviest nodes and those of the critical path.
std::string analysis_text(const run_analysis& run) {
    nlohmann::ordered_json analysis = analysis_json(run);
    nlohmann::ordered_json& nodes = analysis["nodes"];
    analysis["nodes_total"] = nodes.size();
    if (nodes.size() > page_nodes) {
        std::vector<char> keep(nodes.size(), 0);
        std::fill(keep.begin(), keep.begin() + static_cast<long>(page_nodes), 1);
        for (const critical_step& step : run.dependencies.critical_path) {
            const std::uint32_t row = run.statistics.row_of_object[run.model.executions()[step.execution].node];
            if (row < keep.size()) keep[row] = 1;
        }
        nlohmann::ordered_json kept = nlohmann::ordered_json::array();
        // A kept node keeps its place in the list: the drawing and the
        // timeline point at nodes by their row.
        for (std::size_t row = 0; row < nodes.size(); ++row) kept.push_back(keep[row] ? nodes[row] : nullptr);
        nodes = std::move(kept);
    }
    return analysis.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The constructs whose tasks, twice as fast, would shorten the run the
// most on the recorded number of workers.
void write_what_if(const run_analysis& run, std::ostream& out) {
    out << "[";
    bool first = true;
    for (const what_if_row& row : halving_what_ifs(run.schedule)) {
        out << (first ? "" : ",") << "{\"label\":" << json_quoted(row.label) << ",\"time_ns\":" << row.time_ns
            << ",\"saved_ns\":" << row.saved_ns << "}";
        first = false;
    }
    out << "]";
}

// Graphviz's drawing: the constructs of a large run, with the instance
// graph (capped) beside it.
void write_graph(const run_analysis& run, const report_options& options, std::ostream& out) {
    graph_drawing_options drawing;
    drawing.caption = false;
    drawing.max_nodes = options.max_nodes;
    std::ostringstream dot;
    const graph_drawing_summary summary = write_graph_dot(run, drawing, dot);
    std::string svg, note, instances_svg;
    if (summary.nodes == 0) {
        note = "The run declared no graph.";
    } else {
        graphviz_drawing drawn = draw_with_graphviz(dot.str(), options.timeout_seconds);
        if (drawn.drawn) {
            svg = std::move(drawn.svg);
            note = graph_cap_note(summary);
        } else {
            note = drawn.why;
        }
        if (summary.constructs && drawn.drawn) {
            graph_drawing_options instances = drawing;
            instances.instances = true;
            std::ostringstream instance_dot;
            const graph_drawing_summary capped = write_graph_dot(run, instances, instance_dot);
            graphviz_drawing instance_drawing = draw_with_graphviz(instance_dot.str(), options.timeout_seconds);
            if (instance_drawing.drawn) instances_svg = std::move(instance_drawing.svg);
            if (capped.drawn < capped.nodes)
                note += " The instance graph shows " + std::to_string(capped.drawn) + " of " +
                        std::to_string(capped.nodes) + " nodes: the critical path and those with the most time.";
        }
    }
    out << "{\"svg\":" << (svg.empty() ? "null" : json_quoted(svg))
        << ",\"note\":" << (note.empty() ? "null" : json_quoted(note))
        << ",\"instances_svg\":" << (instances_svg.empty() ? "null" : json_quoted(instances_svg)) << "}";
}

}  // namespace

void write_report_data(const run_analysis& run, const report_options& options, std::ostream& out) {
    out << "{\"format\":2,\"generator\":\"mvt-trace " MVT_TRACE_VERSION "\",\"run\":";
    write_run(run, out);
    out << ",\n\"analysis\":" << script_safe(analysis_text(run)) << ",\n\"what_if\":";
    write_what_if(run, out);
    out << ",\n\"timeline\":";
    write_timeline_json(run, options.limits, out);
    out << ",\n\"graph\":";
    write_graph(run, options, out);
    out << "}\n";
}

void write_report(const run_analysis& run, const report_options& options, std::ostream& out) {
    write_report_page([&](std::ostream& data) { write_report_data(run, options, data); }, out);
}

}  // namespace mvt_trace
