#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/summary_text.h"

namespace mvt_trace {

const command_spec summary_command = {
    "summary",
    "DIR",
    "records by kind, executions and regions by name",
    "Per trace file: records by kind, the time span, task executions and regions by name with\n"
    "count, total and mean duration; then the same for all files together, and the size of the\n"
    "records that declared the graph. An execution counts in the file where it began; an\n"
    "OpenMP task that resumed on other threads counts once, its time the sum of its pieces.",
    {output_option("the summary")},
    1,
    1,
    false,
    [](const invocation& call) {
        return run_to_output(call, [&](const run_layout& layout, std::ostream& out) {
            const trace_model model = read_model(layout, progress_options(call));
            write_summary(model, out);
            return outcome_of(model);
        });
    },
};

}  // namespace mvt_trace
