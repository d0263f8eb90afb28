#ifndef MVT_TRACE_DOT_OUTPUT_H
#define MVT_TRACE_DOT_OUTPUT_H

#include <ostream>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Writes the recorded graph as Graphviz DOT: task groups nested in their
// parents (a group with members becomes a cluster), is_predecessor_to
// relations as edges, everything labelled by name.
std::vector<file_report> write_dot(const std::vector<trace_file>& files, std::ostream& out);

}  // namespace mvt_trace

#endif
