#include "common/strong_components.h"

#include <algorithm>
#include <vector>

namespace mvt_trace {

std::uint32_t strong_components(const compressed_rows& graph, index_list& component) {
    constexpr std::uint32_t unvisited = UINT32_MAX;
    struct frame {
        std::uint32_t vertex;
        std::uint32_t next_edge;
    };
    const auto n = static_cast<std::uint32_t>(graph.size());
    // low doubles as the marker of vertices on the stack: done ones get
    // unvisited - 1, which no index reaches.
    index_list index(n, unvisited), low(n, 0), stack;
    std::vector<frame, large_allocator<frame>> calls;
    component.assign(n, 0);
    std::uint32_t counter = 0, components = 0;
    constexpr std::uint32_t done = unvisited - 1;
    auto visit = [&](std::uint32_t v) {
        index[v] = low[v] = counter++;
        stack.push_back(v);
        calls.push_back({v, graph.begin[v]});
    };
    for (std::uint32_t root = 0; root < n; ++root) {
        if (index[root] != unvisited) continue;
        visit(root);
        while (!calls.empty()) {
            frame& top = calls.back();
            const std::uint32_t v = top.vertex;
            if (top.next_edge < graph.begin[v + 1]) {
                const std::uint32_t w = graph.targets[top.next_edge++];
                if (index[w] == unvisited)
                    visit(w);
                else if (low[w] != done)
                    low[v] = std::min(low[v], index[w]);
                continue;
            }
            if (low[v] == index[v]) {
                std::uint32_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    low[w] = done;
                    component[w] = components;
                } while (w != v);
                ++components;
            }
            calls.pop_back();
            if (!calls.empty() && low[v] != done) low[calls.back().vertex] = std::min(low[calls.back().vertex], low[v]);
        }
    }
    return components;
}

}  // namespace mvt_trace
