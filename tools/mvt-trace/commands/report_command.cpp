#include <algorithm>
#include <limits>
#include <string>

#include "commands/commands.h"
#include "commands/common.h"
#include "output/report/report_data.h"

namespace mvt_trace {

namespace {

bool parse_count(const std::string& text, std::size_t& count) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    count = static_cast<std::size_t>(std::stoul(text));
    return true;
}

int run_report(const invocation& call) {
    report_inputs inputs;
    inputs.directories = call.positional;
    if (call.has("--max-executions") && !parse_count(call.value("--max-executions"), inputs.limits.max_executions)) {
        print_error("report: --max-executions needs a number (see 'mvt-trace report --help')");
        return 2;
    }
    inputs.graph_note = "This version of mvt-trace draws no graph in the report.";
    return run_to_output(call, [&](const std::vector<trace_file>& files, std::ostream& out) {
        return write_report(files, inputs, out);
    });
}

}  // namespace

const command_spec report_command = {
    "report",
    "DIR [DIR...]",
    "one HTML page that shows the run: timeline, graph, statistics",
    "Writes one self-contained HTML page (scripts, styles and drawings inside; it fetches\n"
    "nothing and opens from disk in any current browser) that shows the run: what was run and\n"
    "the problems check finds, a timeline with one lane per thread to zoom (wheel, +/-, drag\n"
    "with Shift, double-click) and pan (drag, arrow keys), where a click on a bar shows its\n"
    "record, and the graph, node statistics, critical path and concurrency when the analysis\n"
    "provides them. Several DIRs are several processes of one program.\n"
    "\n"
    "The page stays small enough for a browser however large the trace: past\n"
    "--max-executions, the shortest executions are drawn as grey blocks that say how many they\n"
    "hold, and the page says so.",
    {output_option("the page"),
     {"--max-executions", "", "N", "executions drawn one by one, the longest first (default 150000)"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_report,
};

}  // namespace mvt_trace
