#ifndef MVT_TRACE_OUTPUT_CHROME_OUTPUT_H
#define MVT_TRACE_OUTPUT_CHROME_OUTPUT_H

#include <ostream>

#include "analysis/execution_graph.h"
#include "analysis/labels.h"
#include "model/trace_model.h"

namespace mvt_trace {

// Writes the run in the Trace Event Format (the JSON object form with
// "traceEvents"), for ui.perfetto.dev and chrome://tracing:
//   - one process per trace directory, named by the command recorded beside
//     the trace, else the directory; one thread per trace file with
//     records, "thread K (_mvt.K)";
//   - every piece of every execution as a complete slice on its thread,
//     named as the tool names it everywhere, with its identifiers, node and
//     metadata as args (code addresses in hex); regions, which need not
//     nest, as async slices;
//   - a flow arrow along every edge of the graph of executions, from the
//     end of the predecessor's last piece to the start of the successor's
//     first, each with both ends;
//   - every event in time order.
void write_chrome(const trace_model& model, const run_labels& labels, const execution_graph& graph,
                  std::ostream& out);

}  // namespace mvt_trace

#endif
