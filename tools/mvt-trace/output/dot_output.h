#ifndef MVT_TRACE_DOT_OUTPUT_H
#define MVT_TRACE_DOT_OUTPUT_H

#include <ostream>
#include <string>
#include <vector>

#include "output/graph_drawing.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Writes the graph the run declared in Graphviz's DOT language (see
// write_graph_dot), with the analysis's times on its nodes. `directories`
// are the command line's, one process each. With ports, the run is read
// once more for the edges as recorded.
std::vector<file_report> write_dot(const std::vector<trace_file>& files, const std::vector<std::string>& directories,
                                   graph_drawing_options options, std::ostream& out);

}  // namespace mvt_trace

#endif
