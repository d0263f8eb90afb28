#include "output/report/report_analysis.h"

#include <sstream>

#include "output/analyze_json.h"
#include "output/analyze_problems.h"
#include "output/graph_drawing.h"
#include "output/report/graphviz.h"

namespace mvt_trace {

namespace {

void draw_graph(const run_analysis& run, const report_graph_options& options, std::string& svg, std::string& note) {
    graph_drawing_options drawing;
    drawing.max_nodes = options.max_nodes;
    drawing.caption = false;
    std::ostringstream dot;
    const graph_drawing_summary summary = write_graph_dot(run, drawing, dot);
    if (summary.nodes == 0) {
        note = "The run declared no graph.";
        return;
    }
    graphviz_drawing drawn = draw_with_graphviz(dot.str(), options.timeout_seconds);
    if (!drawn.drawn) {
        note = drawn.why;
        return;
    }
    svg = std::move(drawn.svg);
    const std::string capped = graph_cap_note(summary);
    if (!capped.empty())
        note = capped + " The table lists every node; 'mvt-trace report --max-nodes' draws more, 'mvt-trace dot' all.";
}

}  // namespace

void keep_heaviest_nodes(run_analysis& run, std::size_t count) {
    if (run.nodes.size() <= count) return;
    std::vector<char> keep(run.nodes.size(), 0);
    std::fill(keep.begin(), keep.begin() + static_cast<long>(count), 1);
    for (std::size_t object : run.dependencies.critical_path) {
        const long row = run.node_row(object);
        if (row >= 0) keep[static_cast<std::size_t>(row)] = 1;
    }
    std::vector<node_statistics> kept;
    for (std::size_t row = 0; row < run.nodes.size(); ++row) {
        run.row_of_object[run.nodes[row].object] = UINT32_MAX;
        if (keep[row]) kept.push_back(std::move(run.nodes[row]));
    }
    run.nodes = std::move(kept);
    for (std::size_t row = 0; row < run.nodes.size(); ++row)
        run.row_of_object[run.nodes[row].object] = static_cast<std::uint32_t>(row);
}

void attach_analysis(const run_analysis& run, std::size_t nodes_total, const report_graph_options& graph,
                     report_inputs& inputs) {
    nlohmann::ordered_json analysis = analysis_json(run);
    analysis["nodes_total"] = nodes_total;
    inputs.analysis_json = analysis.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    inputs.analysis_problems = analysis_problems(run);
    inputs.health = &run.health;
    inputs.node_of = [&run](std::size_t process, const trace_id& id, std::uint64_t domain) -> long {
        const long object = run.model.node_of_execution(process, id, domain);
        return object < 0 ? -1 : run.node_row(static_cast<std::size_t>(object));
    };
    draw_graph(run, graph, inputs.graph_svg, inputs.graph_note);
}

}  // namespace mvt_trace
