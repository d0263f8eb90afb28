#include <limits>

#include "commands/commands.h"
#include "commands/common.h"
#include "output/chrome_output.h"

namespace mvt_trace {

const command_spec chrome_command = {
    "chrome",
    "DIR [DIR...]",
    "Trace Event JSON for ui.perfetto.dev",
    "Writes the run in the Trace Event Format (JSON), events in time order: one process per\n"
    "DIR, named by the command that record ran; one thread per trace file; a slice per task\n"
    "execution, with its identifiers, node and metadata (code addresses in hex); regions as\n"
    "async slices; and a flow arrow along each dependency of the graph, from the end of the\n"
    "predecessor's execution to the start of the successor's. Open it in ui.perfetto.dev or\n"
    "chrome://tracing.",
    {output_option("the JSON")},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    [](const invocation& call) {
        return run_to_output(call, [&](const std::vector<trace_file>& files, const std::vector<std::string>& processes,
                                       std::ostream& out) { return write_chrome(files, processes, out); });
    },
};

}  // namespace mvt_trace
