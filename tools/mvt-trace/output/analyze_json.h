#ifndef MVT_TRACE_ANALYZE_JSON_H
#define MVT_TRACE_ANALYZE_JSON_H

#include <ostream>

#include <nlohmann/json.hpp>

#include "analysis/run_analysis.h"

namespace mvt_trace {

// The analysis as one JSON object, a published interface: its members and
// their meanings stay as they are (new members may be added). Durations and
// times are integer nanoseconds; identifiers are "d1.d2.d3" strings, since
// their words may exceed what a JSON number holds exactly.
//
//   wall_ns, threads          first to last timestamp of the run; files with
//                             at least one record
//   processes[]               {directory, files, threads, records}, one per
//                             directory in command-line order
//   nodes[]                   every node with an execution, largest total
//                             first: {id, process, name, kind, [code_address],
//                             executions, total_ns, mean_ns, stddev_ns,
//                             min_ns, p50_ns, p95_ns, max_ns}
//   unattached[]              executions of no node by name: {name, process,
//                             executions, total_ns, ... max_ns}
//   dependency_graph          {nodes, edges, edges_complete, work_ns, span_ns,
//                             parallelism, critical_path[] {id, process, name,
//                             total_ns}, condensed_cycles}; edges is a lower
//                             bound when edges_complete is false
//   concurrency               {average, max, time_at_ns {"k": ns},
//                             series {bucket_ns, mean[]}}
//   problems[]                sentences
nlohmann::ordered_json analysis_json(const run_analysis& run);

// Writes that object, in memory that does not grow with the number of nodes.
void write_analysis_json(const run_analysis& run, std::ostream& out);

}  // namespace mvt_trace

#endif
