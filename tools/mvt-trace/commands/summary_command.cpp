#include "analysis/summary.h"
#include "commands/commands.h"
#include "commands/common.h"

namespace mvt_trace {

const command_spec summary_command = {
    "summary",
    "DIR",
    "records by kind, executions and regions by name",
    "Per trace file: records by kind, the time span, task executions and regions by name with\n"
    "count, total and mean duration; then the same for all files together, and the size of the\n"
    "recorded graph. Reads the trace once, in memory that does not grow with its size.",
    {output_option("the summary")},
    1,
    1,
    false,
    [](const invocation& call) { return run_to_output(call, write_summary); },
};

}  // namespace mvt_trace
