#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/analyze_json.h"
#include "output/analyze_text.h"

namespace mvt_trace {

namespace {

int run_analyze(const invocation& call) {
    const bool as_json = call.has("--json");
    analysis_json_options json;
    json.edge_list = call.has("--edges");
    return run_to_output(call, [&](const run_layout& layout, std::ostream& out) {
        const run_analysis run = analyze_run(layout, progress_options(call));
        if (as_json)
            write_analysis_json(run, out, json);
        else
            write_analysis_text(run, out);
        return outcome_of(run.model);
    });
}

}  // namespace

const command_spec analyze_command = {
    "analyze",
    "DIR [DIR...]",
    "where the time went: nodes, critical path, concurrency",
    "Rebuilds the graph the run declared and ties each execution to its node, then reports:\n"
    "per node the count, total, mean, standard deviation, minimum, median, 95th percentile and\n"
    "maximum of its execution times (the percentiles within 1%); the program's tasks of no\n"
    "node and the runtime's own executions, by name; the work, span (the longest path),\n"
    "parallelism (work / span) and critical path of the graph of executions, where each\n"
    "execution of a node waits for the latest execution of each node before it; how long\n"
    "exactly k threads were busy at once; and the problems and notes found.\n"
    "\n"
    "Several directories are the processes of one run: each keeps its own threads, names and\n"
    "identifiers. The files are read once, in memory that grows with the graph and the\n"
    "number of executions, not with the size of the trace.",
    {output_option("the report"), {"--json", "", "", "print one JSON object instead of text"},
     {"--edges", "", "", "with --json: list every node-to-node edge (dependency_graph.edge_list)"}},
    1,
    SIZE_MAX,
    false,
    run_analyze,
};

}  // namespace mvt_trace
