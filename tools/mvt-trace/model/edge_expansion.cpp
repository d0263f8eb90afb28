#include "model/edge_expansion.h"

#include <algorithm>

#include "common/strong_components.h"

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

// At most two distinct nodes of a set: enough to tell whether it holds a
// node other than a given one.
struct some_nodes {
    std::uint32_t count = 0;  // 0, 1 or 2 (two or more)
    std::uint32_t first = 0;

    void add(std::uint32_t node) {
        if (count == 0) {
            count = 1;
            first = node;
        } else if (count == 1 && first != node) {
            count = 2;
        }
    }
    void add(const some_nodes& other) {
        if (other.count > 0) add(other.first);
        if (other.count > 1) count = 2;
    }
    bool has_other_than(std::uint32_t node) const { return count > 1 || (count == 1 && first != node); }
};

// Which nodes an expanded edge would join to another node, without
// expanding: for each group of vertices that reach one another, the nodes
// that reach it and those it reaches.
std::vector<bool> joined_nodes(const vertex_links& links, const link_rows& rows) {
    index_list component;
    const std::uint32_t components = strong_components(rows.between_vertices, component);
    index_pairs membership;
    membership.reserve(links.vertices);
    for (std::uint32_t v = 0; v < links.vertices; ++v) membership.push_back({component[v], v});
    const compressed_rows members(components, membership);
    index_pairs writer_pairs;
    writer_pairs.reserve(links.into_vertex.size());
    for (const index_pair& link : links.into_vertex) writer_pairs.push_back({link.second, link.first});
    const compressed_rows writers(links.vertices, writer_pairs);

    // Components come sinks first: what a component reaches is known before
    // anything that reaches it needs it, and what reaches it is pushed on
    // in the other direction.
    std::vector<some_nodes, large_allocator<some_nodes>> reached(components), reaching(components);
    for (std::uint32_t c = 0; c < components; ++c)
        for (const std::uint32_t* v = members.row_begin(c); v != members.row_end(c); ++v) {
            for (const std::uint32_t* m = rows.out_of_vertex.row_begin(*v); m != rows.out_of_vertex.row_end(*v); ++m)
                reached[c].add(*m);
            for (const std::uint32_t* w = rows.between_vertices.row_begin(*v); w != rows.between_vertices.row_end(*v); ++w)
                if (component[*w] != c) reached[c].add(reached[component[*w]]);
        }
    for (std::uint32_t c = components; c-- > 0;) {
        for (const std::uint32_t* v = members.row_begin(c); v != members.row_end(c); ++v)
            for (const std::uint32_t* n = writers.row_begin(*v); n != writers.row_end(*v); ++n) reaching[c].add(*n);
        for (const std::uint32_t* v = members.row_begin(c); v != members.row_end(c); ++v)
            for (const std::uint32_t* w = rows.between_vertices.row_begin(*v); w != rows.between_vertices.row_end(*v); ++w)
                if (component[*w] != c) reaching[component[*w]].add(reaching[c]);
    }

    std::vector<bool> joined(links.objects, false);
    for (const index_pair& link : links.direct)
        if (link.first != link.second) joined[link.first] = joined[link.second] = true;
    for (const index_pair& link : links.into_vertex)
        if (reached[component[link.second]].has_other_than(link.first)) joined[link.first] = true;
    for (const index_pair& link : links.out_of_vertex)
        if (reaching[component[link.first]].has_other_than(link.second)) joined[link.second] = true;
    return joined;
}

vertex_graph keep_vertices(const vertex_links& links, const link_rows& rows) {
    vertex_graph graph;
    graph.vertices = links.vertices;
    const std::vector<bool> joined = joined_nodes(links, rows);
    for (std::size_t n = 0; n < links.objects; ++n)
        if (joined[n]) graph.nodes.push_back(n);
    const std::size_t first_vertex = links.objects;
    for (const index_pair& link : links.direct)
        if (link.first != link.second) graph.edges.push_back({link.first, link.second});
    for (const index_pair& link : links.into_vertex)
        if (joined[link.first]) graph.edges.push_back({link.first, first_vertex + link.second});
    for (const index_pair& link : links.out_of_vertex)
        if (joined[link.second]) graph.edges.push_back({first_vertex + link.first, link.second});
    for (const index_pair& link : links.between_vertices)
        graph.edges.push_back({first_vertex + link.first, first_vertex + link.second});
    std::sort(graph.edges.begin(), graph.edges.end());
    graph.edges.erase(std::unique(graph.edges.begin(), graph.edges.end()), graph.edges.end());
    return graph;
}

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
    reserve_in_huge_pages(result.edges, found.size());
    for (const index_pair& edge : found) result.edges.push_back({edge.first, edge.second});
    if (!result.complete) result.graph_with_vertices = keep_vertices(links, rows);
    return result;
}

}  // namespace mvt_trace
