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

expansion_limits expansion_limits::for_relations(std::size_t relations) {
    expansion_limits limits;
    limits.edges = (std::size_t{1} << 20) + 4 * relations;
    limits.steps = (std::uint64_t{1} << 24) + 16 * std::uint64_t{relations};
    return limits;
}

// Each node's vertices are followed, through vertices only, to the nodes on
// the far side; one walk per node, so that each of its edges is found once.
expanded_edges expand_edges(const vertex_links& links, const expansion_limits& limits) {
    const link_rows rows(links);
    expanded_edges result;
    index_pairs found;
    index_list node_walk(links.objects, 0), vertex_walk(links.vertices, 0), targets, stack;
    std::uint64_t steps = 0;
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
        while (!stack.empty() && steps <= limits.steps) {
            const std::uint32_t v = stack.back();
            stack.pop_back();
            steps += 1 + rows.out_of_vertex.row_size(v) + rows.between_vertices.row_size(v);
            for (const std::uint32_t* m = rows.out_of_vertex.row_begin(v); m != rows.out_of_vertex.row_end(v); ++m)
                reach(*m);
            for (const std::uint32_t* w = rows.between_vertices.row_begin(v); w != rows.between_vertices.row_end(v); ++w)
                enter(*w);
        }
        if (steps > limits.steps || found.size() + targets.size() > limits.edges) {
            result.complete = false;
            break;
        }
        std::sort(targets.begin(), targets.end());
        for (std::uint32_t m : targets) found.push_back({n, m});
    }
    result.edges = std::move(found);
    return result;
}

}  // namespace mvt_trace
