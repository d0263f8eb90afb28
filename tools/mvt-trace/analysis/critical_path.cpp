#include "analysis/critical_path.h"

#include <algorithm>

#include "common/compressed_rows.h"
#include "common/strong_components.h"

namespace mvt_trace {

namespace {

constexpr std::uint32_t unvisited = UINT32_MAX;

// A graph whose points are nodes (with their weight) and, for the model's
// graph with vertices, pass-through vertices (weightless, and never listed).
// Points are numbered nodes first, in ascending position.
struct point_graph {
    std::size_t nodes = 0;  // points 0 .. nodes - 1 are nodes
    std::size_t points = 0;
    index_pairs pairs;  // sorted
    std::vector<std::size_t, large_allocator<std::size_t>> position;  // of each node point
    std::vector<std::uint64_t, large_allocator<std::uint64_t>> weight;  // of each node point
};

// The graph between components: each component's successors, ascending and
// once each, gathered point by point and sorted per component (a few each)
// rather than all together.
compressed_rows condense(const compressed_rows& rows, const index_list& component, std::uint32_t components) {
    index_pairs membership;
    membership.reserve(component.size());
    for (std::uint32_t v = 0; v < component.size(); ++v) membership.push_back({component[v], v});
    const compressed_rows points(components, membership);
    compressed_rows dag;
    dag.begin.assign(components + std::size_t{1}, 0);
    dag.targets.reserve(rows.targets.size());
    index_list last_seen(components, unvisited);
    for (std::uint32_t c = 0; c < components; ++c) {
        const std::size_t first = dag.targets.size();
        for (const std::uint32_t* v = points.row_begin(c); v != points.row_end(c); ++v)
            for (const std::uint32_t* w = rows.row_begin(*v); w != rows.row_end(*v); ++w) {
                const std::uint32_t d = component[*w];
                if (d == c || last_seen[d] == c) continue;
                last_seen[d] = c;
                dag.targets.push_back(d);
            }
        std::sort(dag.targets.begin() + static_cast<std::ptrdiff_t>(first), dag.targets.end());
        dag.begin[c + 1] = static_cast<std::uint32_t>(dag.targets.size());
    }
    return dag;
}

// Components come sinks first, so each one's successors are done before it:
// the heaviest path from each is one sweep. Ties go to the first successor
// in order, and between starts to the later component.
void find_heaviest_path(const point_graph& graph, dependency_summary& summary) {
    const compressed_rows rows(graph.points, graph.pairs);
    index_list component;
    const std::uint32_t components = strong_components(rows, component);
    // The nodes of each component, in declaration order.
    std::vector<std::uint64_t, large_allocator<std::uint64_t>> component_weight(components, 0);
    index_pairs membership;
    membership.reserve(graph.nodes);
    for (std::uint32_t v = 0; v < graph.nodes; ++v) {
        summary.work += graph.weight[v];
        component_weight[component[v]] += graph.weight[v];
        membership.push_back({component[v], v});
    }
    const compressed_rows members(components, membership);
    for (std::uint32_t c = 0; c < components; ++c) {
        const std::size_t size = members.row_size(c);
        if (size < 2) continue;
        ++summary.condensed_cycles;
        summary.nodes_in_cycles += size;
    }

    const compressed_rows dag = condense(rows, component, components);
    std::vector<std::uint64_t, large_allocator<std::uint64_t>> heaviest(components, 0);
    index_list next(components, unvisited);
    std::uint32_t start = 0;
    for (std::uint32_t c = 0; c < components; ++c) {
        std::uint64_t best = 0;
        for (const std::uint32_t* s = dag.row_begin(c); s != dag.row_end(c); ++s) {
            if (next[c] == unvisited || heaviest[*s] > best) {
                best = heaviest[*s];
                next[c] = *s;
            }
        }
        heaviest[c] = component_weight[c] + best;
        if (heaviest[c] > heaviest[start] || (heaviest[c] == heaviest[start] && c > start)) start = c;
    }
    summary.span = components == 0 ? 0 : heaviest[start];
    for (std::uint32_t c = start; c != unvisited && components > 0; c = next[c])
        for (const std::uint32_t* v = members.row_begin(c); v != members.row_end(c); ++v)
            summary.critical_path.push_back(graph.position[*v]);
    summary.parallelism =
        summary.span == 0 ? 0 : static_cast<double>(summary.work) / static_cast<double>(summary.span);
}

bool sorted(const index_pairs& pairs) { return std::is_sorted(pairs.begin(), pairs.end()); }

}  // namespace

dependency_summary summarize_dependencies(const std::vector<node_edge>& edges,
                                          const std::vector<std::uint64_t>& weight) {
    dependency_summary summary;
    summary.edges = edges.size();
    // Nodes are numbered in ascending position; a table, not a search, maps
    // a position to its number.
    std::size_t highest = 0;
    for (const node_edge& e : edges) highest = std::max({highest, e.from, e.to});
    index_list number(edges.empty() ? 0 : highest + 1, unvisited);
    for (const node_edge& e : edges) number[e.from] = number[e.to] = 0;
    point_graph graph;
    for (std::size_t position = 0; position < number.size(); ++position) {
        if (number[position] == unvisited) continue;
        number[position] = static_cast<std::uint32_t>(graph.position.size());
        graph.position.push_back(position);
        graph.weight.push_back(position < weight.size() ? weight[position] : 0);
    }
    reserve_in_huge_pages(summary.nodes, graph.position.size());
    summary.nodes.assign(graph.position.begin(), graph.position.end());
    graph.nodes = graph.points = graph.position.size();
    if (graph.nodes == 0) return summary;
    graph.pairs.reserve(edges.size());
    for (const node_edge& e : edges) graph.pairs.push_back({number[e.from], number[e.to]});
    if (!sorted(graph.pairs)) std::sort(graph.pairs.begin(), graph.pairs.end());
    find_heaviest_path(graph, summary);
    return summary;
}

dependency_summary summarize_dependencies(const vertex_graph& with_vertices, std::size_t objects,
                                          const std::vector<std::uint64_t>& weight) {
    dependency_summary summary;
    summary.nodes = with_vertices.nodes;
    // Nodes first in ascending position, then the vertices.
    index_list number(objects, unvisited);
    point_graph graph;
    for (std::size_t node : with_vertices.nodes) {
        number[node] = static_cast<std::uint32_t>(graph.position.size());
        graph.position.push_back(node);
        graph.weight.push_back(node < weight.size() ? weight[node] : 0);
    }
    graph.nodes = graph.position.size();
    graph.points = graph.nodes + with_vertices.vertices;
    auto point = [&](std::size_t p) {
        return p < objects ? number[p] : static_cast<std::uint32_t>(graph.nodes + (p - objects));
    };
    graph.pairs.reserve(with_vertices.edges.size());
    for (const node_edge& e : with_vertices.edges) graph.pairs.push_back({point(e.from), point(e.to)});
    std::sort(graph.pairs.begin(), graph.pairs.end());
    if (graph.nodes > 0) find_heaviest_path(graph, summary);
    return summary;
}

dependency_summary summarize_dependencies(const run_model& model, const std::vector<std::uint64_t>& weight) {
    if (model.edges_complete()) return summarize_dependencies(model.edges(), weight);
    dependency_summary summary = summarize_dependencies(model.graph_with_vertices(), model.objects().size(), weight);
    summary.edges = model.edges().size();
    summary.edges_complete = false;
    return summary;
}

}  // namespace mvt_trace
