#include "commands/commands.h"
#include "commands/common.h"
#include "output/chrome_output.h"

namespace mvt_trace {

const command_spec chrome_command = {
    "chrome",
    "DIR",
    "Trace Event JSON for ui.perfetto.dev",
    "Writes the run in the Trace Event Format (JSON): one complete event per task execution\n"
    "and region, flow arrows for the relations between executions. Open it in\n"
    "ui.perfetto.dev or chrome://tracing.",
    {output_option("the JSON")},
    1,
    1,
    false,
    [](const invocation& call) { return run_to_output(call, write_chrome); },
};

}  // namespace mvt_trace
