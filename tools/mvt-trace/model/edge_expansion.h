#ifndef MVT_TRACE_EDGE_EXPANSION_H
#define MVT_TRACE_EDGE_EXPANSION_H

#include <cstddef>
#include <vector>

#include "common/compressed_rows.h"
#include "model/run_model.h"

namespace mvt_trace {

// The predecessor relations of a run once their ends are resolved: between
// nodes (positions of objects) and pass-through vertices (numbered 0, 1, ...).
struct vertex_links {
    std::size_t objects = 0;
    std::size_t vertices = 0;
    index_pairs direct;            // node -> node
    index_pairs into_vertex;       // node -> vertex
    index_pairs out_of_vertex;     // vertex -> node
    index_pairs between_vertices;  // vertex -> vertex
};

// The node-to-node edges, distinct, sorted and none from a node to itself:
// a direct relation, or a path node -> vertex ... vertex -> node.
std::vector<node_edge> expand_edges(const vertex_links& links);

}  // namespace mvt_trace

#endif
