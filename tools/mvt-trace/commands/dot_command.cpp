#include <limits>

#include "commands/commands.h"
#include "commands/common.h"
#include "output/dot_output.h"

namespace mvt_trace {

namespace {

int run_dot(const invocation& call) {
    graph_drawing_options options;
    options.ports = call.has("--ports");
    if (!read_count_option(call, "--max-nodes", options.max_nodes)) return 2;
    return run_to_output(call, [&](const std::vector<trace_file>& files, const std::vector<std::string>& processes,
                                   std::ostream& out) {
        return write_dot(files, processes, options, out);
    });
}

}  // namespace

const command_spec dot_command = {
    "dot",
    "DIR [DIR...]",
    "the recorded graph for Graphviz",
    "Writes the graph the run declared in Graphviz's DOT language, left to right; render it\n"
    "with 'dot -Tsvg'. Nodes show their name (a string metadata, else their kind), code\n"
    "address and total execution time, darker the more time they took; the critical path is\n"
    "outlined in orange; nodes that never ran are dashed. Edges join nodes directly: ports and\n"
    "the storage locations of OpenMP dependences are resolved. An OpenMP run is drawn\n"
    "compactly: one box per parallel region, in the order the regions began, holding its\n"
    "implicit tasks and the task nodes created in it. Several DIRs are several processes.",
    {output_option("the DOT text"),
     {"--ports", "", "", "draw ports as cells of their nodes, edges from port to port"},
     {"--max-nodes", "", "N", "draw at most N nodes: the critical path, then those with the most time"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_dot,
};

}  // namespace mvt_trace
