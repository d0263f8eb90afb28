#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/sqlite_output.h"

namespace mvt_trace {

namespace {

int run_sqlite(const invocation& call) {
    output_file out;
    return run_to_path(
        call, "-o FILE is required: a database cannot go to standard output", out,
        [](auto& output, const std::string& path, const std::vector<std::string>& inputs, std::string& error) {
            return output.open_named(path, inputs, error);
        },
        [&call](run_analysis& run, const std::string& path, std::string& error) {
            return write_sqlite(run, path, std::string("mvt-trace ") + MVT_TRACE_VERSION, error,
                                [&run] { add_graphs(run); }, call.has("--execution-edges"));
        },
        analysis_depth::model_and_labels);
}

}  // namespace

const command_spec sqlite_command = {
    "sqlite",
    "DIR [DIR...] -o FILE",
    "a SQLite database of the run, to query with SQL",
    "Writes the run into a new SQLite database: tables meta (schema_version 2), processes,\n"
    "threads, constructs, nodes, executions (one row each, with begin_ns, end_ns and\n"
    "duration_ns), pieces, edges (node to node), critical_path, regions and metadata,\n"
    "indexed on the columns joins use; with --execution-edges also execution_edges (the\n"
    "graph of executions). Times are integer nanoseconds from the run's first timestamp,\n"
    "identifiers text \"d1.d2.d3\". The README lists the columns and gives example queries.",
    {{"--output", "-o", "FILE", "the database to write (required); an existing file is replaced"},
     {"--execution-edges", "", "", "add the graph of executions: on a flow graph, a row per execution"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_sqlite,
};

}  // namespace mvt_trace
