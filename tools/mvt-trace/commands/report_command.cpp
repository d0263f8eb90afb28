#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/report/report_analysis.h"
#include "output/report/report_data.h"

namespace mvt_trace {

namespace {

int run_report(const invocation& call) {
    report_inputs inputs;
    report_graph_options graph;
    if (!read_count_option(call, "--max-executions", inputs.limits.max_executions) ||
        !read_count_option(call, "--max-nodes", graph.max_nodes))
        return 2;
    std::optional<run_analysis> run;
    return run_to_output(call, [&](const std::vector<trace_file>& files, const std::vector<std::string>& processes,
                                   std::ostream& out) {
        inputs.directories = processes;
        // The analysis, and Graphviz's drawing of its graph, while the
        // timeline reads the run.
        return write_report(files, inputs, out, [&](report_inputs& prepared) {
            run.emplace(analyze_run(files, processes));
            const std::size_t nodes = run->nodes.size();
            keep_heaviest_nodes(*run, std::max(page_nodes, graph.max_nodes));
            attach_analysis(*run, nodes, graph, prepared);
        });
    });
}

}  // namespace

const command_spec report_command = {
    "report",
    "DIR [DIR...]",
    "one HTML page that shows the run: timeline, graph, statistics",
    "Writes one self-contained HTML page (scripts, styles and drawings inside; it fetches\n"
    "nothing and opens from disk in any current browser) that shows the run: what was run and\n"
    "the problems check and analyze find; a timeline with one lane per thread to zoom (wheel,\n"
    "+/-, drag with Shift, double-click) and pan (drag, arrow keys), where a click on a bar shows\n"
    "its record; how many executions ran at each moment; the graph as 'mvt-trace dot' draws it,\n"
    "laid out by Graphviz, with the critical path; and the statistics of every node. A click on\n"
    "a node in the table, the critical path or a bar's record finds it in the graph. Several\n"
    "DIRs are several processes of one program.\n"
    "\n"
    "The page stays small enough for a browser however large the trace: past\n"
    "--max-executions, the shortest executions are drawn as grey blocks that say how many they\n"
    "hold; past --max-nodes, the graph shows the critical path and the nodes with the most\n"
    "time; the table lists the 5,000 nodes with the most time and the critical path ('mvt-trace\n"
    "analyze' lists them all). Without Graphviz's dot the page says so in place of the graph.",
    {output_option("the page"),
     {"--max-executions", "", "N", "executions drawn one by one, the longest first (default 150000)"},
     {"--max-nodes", "", "N", "graph nodes drawn, the critical path and the heaviest first (default 400)"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_report,
};

}  // namespace mvt_trace
