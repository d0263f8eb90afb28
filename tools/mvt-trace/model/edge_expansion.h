#ifndef MVT_TRACE_EDGE_EXPANSION_H
#define MVT_TRACE_EDGE_EXPANSION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/compressed_rows.h"

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

struct expanded_edges {
    index_pairs edges;  // distinct, sorted, no node to itself
    bool complete = true;
};

// How far an expansion may go: edges made, and steps taken (a vertex
// entered, an edge out of it followed).
struct expansion_limits {
    std::size_t edges = 0;
    std::uint64_t steps = 0;

    // Generous for any real program, where a task has a few edges: a
    // million edges and 16 million steps, and 4 edges and 16 steps more per
    // predecessor relation. Memory stays within some 16 bytes an edge.
    static expansion_limits for_relations(std::size_t relations);
};

// The node-to-node edges: a direct relation, or a path node -> vertex ...
// vertex -> node. A vertex that n nodes write and m nodes read makes n x m
// edges: past the limits the expansion stops, keeping the edges of the
// nodes done so far.
expanded_edges expand_edges(const vertex_links& links, const expansion_limits& limits);

}  // namespace mvt_trace

#endif
