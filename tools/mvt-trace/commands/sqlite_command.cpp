#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/sqlite_output.h"

namespace mvt_trace {

namespace {

int run_sqlite(const invocation& call) {
    if (!call.has("--output")) {
        print_error("sqlite: -o FILE is required: a database cannot go to standard output (see 'mvt-trace sqlite --help')");
        return 2;
    }
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    output_file out;
    std::string error;
    if (!out.open_named(call.value("--output"), call.positional, error)) {
        print_error(error);
        return 2;
    }
    const run_analysis run = analyze_run(layout, progress_options(call), analysis_depth::model_and_graphs);
    if (const int status = warn_about(outcome_of(run.model, run.reports)); status != 0) return status;
    if (!write_sqlite(run, out.temporary_path(), std::string("mvt-trace ") + MVT_TRACE_VERSION, error)) {
        print_error("cannot write " + call.value("--output") + ": " + error);
        return 2;
    }
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

}  // namespace

const command_spec sqlite_command = {
    "sqlite",
    "DIR [DIR...] -o FILE",
    "a SQLite database of the run, to query with SQL",
    "Writes the run into a new SQLite database: tables meta (schema_version 1), processes,\n"
    "threads, constructs, nodes, executions (one row each, with begin_ns, end_ns and\n"
    "duration_ns), pieces, edges (node to node), execution_edges (the graph of executions),\n"
    "critical_path, regions and metadata, indexed on the columns joins use. Times are\n"
    "integer nanoseconds from the run's first timestamp, identifiers text \"d1.d2.d3\". The\n"
    "README lists the columns and gives example queries.",
    {{"--output", "-o", "FILE", "the database to write (required); an existing file is replaced"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_sqlite,
};

}  // namespace mvt_trace
