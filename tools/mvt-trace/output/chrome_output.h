#ifndef MVT_TRACE_CHROME_OUTPUT_H
#define MVT_TRACE_CHROME_OUTPUT_H

#include <ostream>
#include <string>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Writes the run in the Trace Event Format (the JSON object form with
// "traceEvents"), for ui.perfetto.dev and chrome://tracing:
//   - one process per directory (`directories`, in command-line order),
//     named by the command recorded beside the trace, else the directory;
//     one thread per trace file with records, "thread K (_mvt.K)";
//   - task executions as B/E slices on their thread, with their identifiers,
//     domain, node and metadata as args (code addresses in hex); regions,
//     which need not nest, as async slices;
//   - a flow arrow along every dependency edge of the graph, from the end of
//     the predecessor's latest finished execution to the start of the
//     successor's next one;
//   - every event in time order, written as the run is read a second time,
//     merged by timestamp: memory follows the graph and the metadata, not
//     the executions.
std::vector<file_report> write_chrome(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                                      std::ostream& out);

}  // namespace mvt_trace

#endif
