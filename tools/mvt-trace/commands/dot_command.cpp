#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/graph_drawing.h"

namespace mvt_trace {

namespace {

int run_dot(const invocation& call) {
    graph_drawing_options options;
    options.ports = call.has("--ports");
    options.instances = call.has("--instances");
    if (!read_count_option(call, "--max-nodes", options.max_nodes)) return 2;
    return run_to_output(call, [&](const run_layout& layout, std::ostream& out) {
        const run_analysis run = analyze_run(layout, progress_options(call));
        write_graph_dot(run, options, out);
        return outcome_of(run.model);
    });
}

}  // namespace

const command_spec dot_command = {
    "dot",
    "DIR [DIR...]",
    "the recorded graph for Graphviz",
    "Writes the graph the run declared in Graphviz's DOT language, left to right; render it\n"
    "with 'dot -Tsvg'. Nodes show their name (the program's, else where their code is, else\n"
    "their kind and ordinal) and total execution time, darker the more time they took; the\n"
    "critical path is outlined in orange; nodes that never ran are dashed. Edges join nodes\n"
    "directly: ports and the storage locations of OpenMP dependences are resolved. An OpenMP\n"
    "run is drawn compactly: one box per parallel region, in the order the regions began,\n"
    "holding the task nodes created in it. A run of more than 300 task nodes is drawn as its\n"
    "constructs (the task nodes of one piece of code), edges labelled with how many they stand\n"
    "for, so that Graphviz lays it out in seconds. Several DIRs are several processes.",
    {output_option("the DOT text"),
     {"--instances", "", "", "draw every task node, however many"},
     {"--ports", "", "", "draw ports as cells of their nodes, edges from port to port"},
     {"--max-nodes", "", "N", "draw at most N nodes: the critical path, then those with the most time"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_dot,
};

}  // namespace mvt_trace
