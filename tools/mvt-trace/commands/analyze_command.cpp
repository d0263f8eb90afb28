#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/analyze_json.h"
#include "output/analyze_text.h"

namespace mvt_trace {

namespace {

int run_analyze(const invocation& call) {
    const bool as_json = call.has("--json");
    return run_to_output(call, [&](const std::vector<trace_file>& files, const std::vector<std::string>& processes,
                                   std::ostream& out) {
        const run_analysis run = analyze_run(files, processes);
        if (as_json)
            write_analysis_json(run, out);
        else
            write_analysis_text(run, out);
        return run.reports;
    });
}

}  // namespace

const command_spec analyze_command = {
    "analyze",
    "DIR [DIR...]",
    "where the time went: nodes, critical path, concurrency",
    "Rebuilds the graph the run declared and ties each execution to its node, then reports:\n"
    "per node the count, total, mean, standard deviation, minimum, median, 95th percentile and\n"
    "maximum of its execution times (the percentiles within 1%); the executions of no node, by\n"
    "name; the dependency graph's work (all node time), span (the heaviest path), parallelism\n"
    "(work / span) and critical path; how long exactly k threads were busy at once; and the\n"
    "problems found (files not whole, executions never closed, cycles, ...).\n"
    "\n"
    "Several directories are the processes of one run: each keeps its own threads, names and\n"
    "identifiers. The files are read once, side by side in time order (a second time only when\n"
    "an execution never closes or a file is cut short), in memory that grows with the graph,\n"
    "not with the number of executions.",
    {output_option("the report"), {"--json", "", "", "print one JSON object instead of text"}},
    1,
    SIZE_MAX,
    false,
    run_analyze,
};

}  // namespace mvt_trace
