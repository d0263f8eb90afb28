#include "model/edge_expansion.h"

#include <algorithm>


namespace mvt_trace {

namespace {

struct link_rows {
    compressed_rows direct, into_vertex, out_of_vertex, between_vertices;

    explicit link_rows(const vertex_links& links)
        : direct(links.objects, links.direct),
          into_vertex(links.objects, links.into_vertex),
          out_of_vertex(links.vertices, links.out_of_vertex),
          between_vertices(links.vertices, links.between_vertices) {}
};

}  // namespace

// Each node's vertices are followed, through vertices only, to the nodes on
// the far side; one walk per node, so that each of its edges is found once.
std::vector<node_edge> expand_edges(const vertex_links& links) {
    const link_rows rows(links);
    std::vector<node_edge> edges;
    index_list node_walk(links.objects, 0), vertex_walk(links.vertices, 0), targets, stack;
    std::uint32_t walk = 0;
    for (std::uint32_t n = 0; n < links.objects; ++n) {
        if (rows.direct.row_size(n) == 0 && rows.into_vertex.row_size(n) == 0) continue;
        ++walk;
        targets.clear();
        auto reach = [&](std::uint32_t m) {
            if (m == n || node_walk[m] == walk) return;
            node_walk[m] = walk;
            targets.push_back(m);
        };
        auto enter = [&](std::uint32_t v) {
            if (vertex_walk[v] == walk) return;
            vertex_walk[v] = walk;
            stack.push_back(v);
        };
        for (const std::uint32_t* m = rows.direct.row_begin(n); m != rows.direct.row_end(n); ++m) reach(*m);
        for (const std::uint32_t* v = rows.into_vertex.row_begin(n); v != rows.into_vertex.row_end(n); ++v) enter(*v);
        while (!stack.empty()) {
            const std::uint32_t v = stack.back();
            stack.pop_back();
            for (const std::uint32_t* m = rows.out_of_vertex.row_begin(v); m != rows.out_of_vertex.row_end(v); ++m)
                reach(*m);
            for (const std::uint32_t* w = rows.between_vertices.row_begin(v); w != rows.between_vertices.row_end(v); ++w)
                enter(*w);
        }
        std::sort(targets.begin(), targets.end());
        for (std::uint32_t m : targets) edges.push_back({n, m});
    }
    return edges;
}

}  // namespace mvt_trace
