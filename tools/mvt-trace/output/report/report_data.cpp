#include "output/report/report_data.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <unordered_set>

#include "common/json_text.h"
#include "common/text_format.h"
#include "output/analyze_json.h"
#include "output/analyze_problems.h"
#include "output/diff_json.h"
#include "output/graph_drawing.h"
#include "output/report/graphviz.h"
#include "reading/recorded_run.h"
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
    const trace_model::activity active = model.activity_of();
    out << "{\"title\":" << json_quoted(title) << ",\"directories\":" << string_array(directories)
        << ",\"command\":" << (first_recorded ? string_array(first_recorded->command) : "null")
        << ",\"exit_status\":"
        << (first_recorded && first_recorded->exit_status ? std::to_string(*first_recorded->exit_status) : "null")
        << ",\"outcome\":" << (first_recorded ? json_quoted(first_recorded->outcome) : "null")
        << ",\"origin_utc\":" << json_quoted(format_utc(model.first_timestamp())) << ",\"wall_ns\":" << model.wall()
        << ",\"threads\":" << active.threads << ",\"files\":" << model.threads().size()
        << ",\"records\":" << active.records << ",\"problems\":" << string_array(finding_lines(model, severity::problem))
        << ",\"notes\":" << string_array(notes) << "}";
}

// Past `limit` rows, keeps the first `limit` and those marked, each in its
// place: the drawing and the timeline point at rows by their position.
// Nulls after the last row kept say nothing and are dropped.
void cap_rows(nlohmann::ordered_json& rows, std::size_t limit, std::vector<char>& keep) {
    if (rows.size() <= limit) return;
    keep.resize(rows.size(), 0);
    std::fill(keep.begin(), keep.begin() + static_cast<long>(limit), 1);
    std::size_t end = 0;
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (keep[row]) end = row + 1;
    nlohmann::ordered_json kept = nlohmann::ordered_json::array();
    for (std::size_t row = 0; row < end; ++row) kept.push_back(keep[row] ? std::move(rows[row]) : nullptr);
    rows = std::move(kept);
}

// The analysis as analyze --json gives it, its node and construct lists cut
// to the page's size: the heaviest and those of the critical path, and at
// least as many as the drawing may show.
std::string analysis_text(const run_analysis& run, std::size_t drawn) {
    nlohmann::ordered_json analysis = analysis_json(run);
    nlohmann::ordered_json& nodes = analysis["nodes"];
    nlohmann::ordered_json& constructs = analysis["constructs"];
    analysis["nodes_total"] = nodes.size();
    analysis["constructs_total"] = constructs.size();
    std::vector<char> keep_nodes(nodes.size(), 0), keep_constructs(constructs.size(), 0);
    std::unordered_set<std::string> path_labels;
    for (const critical_step& step : run.dependencies.critical_path) {
        const std::uint32_t object = run.model.executions()[step.execution].node;
        const std::uint32_t row = run.statistics.row_of_object[object];
        if (row < keep_nodes.size()) keep_nodes[row] = 1;
        path_labels.insert(run.labels.of_object(object));
    }
    // A construct is the task nodes of one label.
    for (std::size_t row = 0; row < constructs.size(); ++row)
        if (path_labels.count(constructs[row]["label"].get<std::string>()) > 0) keep_constructs[row] = 1;
    cap_rows(nodes, std::max(page_nodes, drawn), keep_nodes);
    cap_rows(constructs, std::max(page_constructs, drawn), keep_constructs);
    return compact_text(analysis);
}

// The constructs whose tasks, twice as fast, would shorten the run the
// most on the recorded number of workers.
void write_what_if(const run_analysis& run, std::ostream& out) {
    out << "[";
    bool first = true;
    // A run too large for analyze to schedule gets no what-ifs either.
    const std::vector<what_if_row> rows =
        run.scalability.predicted ? halving_what_ifs(run.schedule) : std::vector<what_if_row>{};
    for (const what_if_row& row : rows) {
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
    out << ",\n\"analysis\":" << script_safe(analysis_text(run, options.max_nodes)) << ",\n\"what_if\":";
    write_what_if(run, out);
    out << ",\n\"timeline\":";
    write_timeline_json(run, options.limits, out);
    out << ",\n\"graph\":";
    write_graph(run, options, out);
    out << ",\n\"comparison\":"
        << (options.comparison ? script_safe(comparison_json_text(*options.comparison)) : std::string("null"));
    out << "}\n";
}

void write_report(const run_analysis& run, const report_options& options, std::ostream& out) {
    write_report_page([&](std::ostream& data) { write_report_data(run, options, data); }, out);
}

}  // namespace mvt_trace
