#ifndef MVT_TRACE_OUTPUT_SQLITE_OUTPUT_H
#define MVT_TRACE_OUTPUT_SQLITE_OUTPUT_H

#include <functional>
#include <string>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// The version of the tables below, kept in meta.schema_version; it grows
// when a table or column changes meaning or goes away.
constexpr int sqlite_schema_version = 2;

// Writes the run into the SQLite database at `path` (an empty file, or none):
// tables meta, processes, threads, constructs, nodes, execution_rows (with
// the view executions), resumed_pieces (with the view pieces), edges,
// critical_path, regions and metadata, and execution_edges when asked, with
// their indexes, in one transaction. Times are integer nanoseconds from the run's
// first timestamp (meta.time_origin_ns), identifiers text "d1.d2.d3"; the
// README documents every column. False, with `error` set, when SQLite fails.
//
// `complete_run`, when given, runs on a thread of its own while the tables
// that need neither `run.graph` nor `run.dependencies` are written, and may
// build them (add_graphs); the rest waits for it.
bool write_sqlite(const run_analysis& run, const std::string& path, const std::string& creator, std::string& error,
                  const std::function<void()>& complete_run = {}, bool execution_edges = false);

}  // namespace mvt_trace

#endif
