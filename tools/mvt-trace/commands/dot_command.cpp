#include "commands/commands.h"
#include "commands/common.h"
#include "output/dot_output.h"

namespace mvt_trace {

const command_spec dot_command = {
    "dot",
    "DIR",
    "the recorded graph for Graphviz",
    "Writes the graph the run recorded (task groups nested in their parents, predecessor\n"
    "relations as edges) in Graphviz's DOT language; render it with 'dot -Tsvg'.",
    {output_option("the DOT text")},
    1,
    1,
    false,
    [](const invocation& call) { return run_to_output(call, write_dot); },
};

}  // namespace mvt_trace
