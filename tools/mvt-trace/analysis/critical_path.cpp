#include "analysis/critical_path.h"

#include <algorithm>

namespace mvt_trace {

namespace {

constexpr std::size_t unvisited = SIZE_MAX;

// Adjacency in compressed rows: the targets of vertex v are
// targets[begin[v] .. begin[v + 1]).
struct adjacency {
    std::vector<std::size_t> begin;
    std::vector<std::size_t> targets;
};

// From (from, to) pairs on vertices 0..n-1; each row keeps the order of
// the pairs.
adjacency rows_of(std::size_t n, const std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
    adjacency rows;
    rows.begin.assign(n + 1, 0);
    for (const auto& pair : pairs) ++rows.begin[pair.first + 1];
    for (std::size_t v = 0; v < n; ++v) rows.begin[v + 1] += rows.begin[v];
    rows.targets.resize(pairs.size());
    std::vector<std::size_t> next(rows.begin.begin(), rows.begin.end() - 1);
    for (const auto& pair : pairs) rows.targets[next[pair.first]++] = pair.second;
    return rows;
}

}  // namespace

std::size_t strongly_connected_components(std::size_t n, const std::vector<std::size_t>& edge_begin,
                                          const std::vector<std::size_t>& edge_targets,
                                          std::vector<std::size_t>& component) {
    struct frame {
        std::size_t vertex;
        std::size_t next_edge;
    };
    std::vector<std::size_t> index(n, unvisited), low(n, 0);
    std::vector<bool> on_stack(n, false);
    std::vector<std::size_t> stack;
    std::vector<frame> calls;
    component.assign(n, 0);
    std::size_t counter = 0, components = 0;
    auto visit = [&](std::size_t v) {
        index[v] = low[v] = counter++;
        stack.push_back(v);
        on_stack[v] = true;
        calls.push_back({v, edge_begin[v]});
    };
    for (std::size_t root = 0; root < n; ++root) {
        if (index[root] != unvisited) continue;
        visit(root);
        while (!calls.empty()) {
            frame& top = calls.back();
            const std::size_t v = top.vertex;
            if (top.next_edge < edge_begin[v + 1]) {
                const std::size_t w = edge_targets[top.next_edge++];
                if (index[w] == unvisited)
                    visit(w);
                else if (on_stack[w])
                    low[v] = std::min(low[v], index[w]);
                continue;
            }
            if (low[v] == index[v]) {
                std::size_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    on_stack[w] = false;
                    component[w] = components;
                } while (w != v);
                ++components;
            }
            calls.pop_back();
            if (!calls.empty()) low[calls.back().vertex] = std::min(low[calls.back().vertex], low[v]);
        }
    }
    return components;
}

dependency_summary summarize_dependencies(const std::vector<node_edge>& edges,
                                          const std::vector<std::uint64_t>& weight) {
    dependency_summary summary;
    summary.edges = edges.size();
    for (const node_edge& e : edges) {
        summary.nodes.push_back(e.from);
        summary.nodes.push_back(e.to);
    }
    std::sort(summary.nodes.begin(), summary.nodes.end());
    summary.nodes.erase(std::unique(summary.nodes.begin(), summary.nodes.end()), summary.nodes.end());
    const std::size_t n = summary.nodes.size();
    if (n == 0) return summary;
    auto local = [&](std::size_t position) {
        return static_cast<std::size_t>(std::lower_bound(summary.nodes.begin(), summary.nodes.end(), position) -
                                        summary.nodes.begin());
    };
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    pairs.reserve(edges.size());
    for (const node_edge& e : edges) pairs.push_back({local(e.from), local(e.to)});
    std::sort(pairs.begin(), pairs.end());
    const adjacency graph = rows_of(n, pairs);

    std::vector<std::size_t> component;
    const std::size_t components = strongly_connected_components(n, graph.begin, graph.targets, component);
    // Members of each component in compressed rows, in declaration order.
    std::vector<std::uint64_t> component_weight(components, 0);
    std::vector<std::pair<std::size_t, std::size_t>> membership;
    membership.reserve(n);
    for (std::size_t v = 0; v < n; ++v) {
        const std::uint64_t w = weight[summary.nodes[v]];
        summary.work += w;
        component_weight[component[v]] += w;
        membership.push_back({component[v], summary.nodes[v]});
    }
    const adjacency members = rows_of(components, membership);
    for (std::size_t c = 0; c < components; ++c) {
        const std::size_t size = members.begin[c + 1] - members.begin[c];
        if (size < 2) continue;
        ++summary.condensed_cycles;
        summary.nodes_in_cycles += size;
    }

    // Components come sinks first, so each one's successors are done
    // before it: the heaviest path from each is one sweep.
    std::vector<std::pair<std::size_t, std::size_t>> condensed;
    condensed.reserve(pairs.size());
    for (const auto& [from, to] : pairs)
        if (component[from] != component[to]) condensed.push_back({component[from], component[to]});
    std::sort(condensed.begin(), condensed.end());
    condensed.erase(std::unique(condensed.begin(), condensed.end()), condensed.end());
    const adjacency dag = rows_of(components, condensed);
    std::vector<std::uint64_t> heaviest(components, 0);
    std::vector<std::size_t> next(components, unvisited);
    std::size_t start = 0;
    for (std::size_t c = 0; c < components; ++c) {
        std::uint64_t best = 0;
        for (std::size_t e = dag.begin[c]; e < dag.begin[c + 1]; ++e) {
            const std::size_t s = dag.targets[e];
            if (next[c] == unvisited || heaviest[s] > best) {
                best = heaviest[s];
                next[c] = s;
            }
        }
        heaviest[c] = component_weight[c] + best;
        if (heaviest[c] > heaviest[start] || (heaviest[c] == heaviest[start] && c > start)) start = c;
    }
    summary.span = heaviest[start];
    for (std::size_t c = start; c != unvisited; c = next[c])
        summary.critical_path.insert(summary.critical_path.end(), members.targets.begin() + members.begin[c],
                                     members.targets.begin() + members.begin[c + 1]);
    summary.parallelism =
        summary.span == 0 ? 0 : static_cast<double>(summary.work) / static_cast<double>(summary.span);
    return summary;
}

}  // namespace mvt_trace
