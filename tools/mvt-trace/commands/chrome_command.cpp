#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/chrome_output.h"

namespace mvt_trace {

const command_spec chrome_command = {
    "chrome",
    "DIR [DIR...]",
    "Trace Event JSON for ui.perfetto.dev",
    "Writes the run in the Trace Event Format (JSON), events in time order: one process per\n"
    "DIR, named by the command that record ran; one thread per trace file; a slice per piece\n"
    "of every execution, named as analyze names it, with its identifiers, node and metadata\n"
    "(code addresses in hex); regions as async slices; and a flow arrow along each edge of\n"
    "the graph of executions, from the end of the predecessor to the start of the successor.\n"
    "Open it in ui.perfetto.dev or chrome://tracing.",
    {output_option("the JSON")},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    [](const invocation& call) {
        return run_to_output(call, [&](const run_layout& layout, std::ostream& out) {
            const run_analysis run = analyze_run(layout, progress_options(call), analysis_depth::model_and_graphs);
            write_chrome(run.model, run.labels, run.graph, out);
            return outcome_of(run.model);
        });
    },
};

}  // namespace mvt_trace
