#ifndef MVT_TRACE_STRONG_COMPONENTS_H
#define MVT_TRACE_STRONG_COMPONENTS_H

#include <cstdint>

#include "common/compressed_rows.h"

namespace mvt_trace {

// The strongly connected components of a directed graph, by Tarjan's
// algorithm with an explicit stack: graphs come from traces, and a chain of
// a million tasks would overflow a call stack. component[v] numbers each
// vertex's component; components are numbered so that every edge between
// two of them goes from a higher number to a lower one (sinks first), and a
// vertex's component is numbered once every vertex it reaches has been.
// Returns the number of components.
std::uint32_t strong_components(const compressed_rows& graph, index_list& component);

}  // namespace mvt_trace

#endif
