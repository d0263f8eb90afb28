#include "analysis/execution_graph.h"

#include <algorithm>

#include "common/saturating.h"

namespace mvt_trace {

namespace {

using execution = trace_model::execution;

// For each node that runs, the nodes that run and reach it through nodes
// that never run: what its executions wait for.
std::vector<std::vector<std::uint32_t>> running_predecessors(const trace_model& model,
                                                             const std::vector<bool>& runs) {
    const std::size_t objects = model.objects().size();
    index_pairs reversed;
    reversed.reserve(model.edges().size());
    for (const trace_model::edge& e : model.edges()) reversed.push_back({e.to, e.from});
    const compressed_rows before(objects, reversed);
    std::vector<std::vector<std::uint32_t>> found(objects);
    std::vector<std::uint32_t> seen(objects, no_index), stack;
    for (std::uint32_t n = 0; n < objects; ++n) {
        if (!runs[n] || before.row_size(n) == 0) continue;
        stack.assign(before.row_begin(n), before.row_end(n));
        for (std::uint32_t m : stack) seen[m] = n;
        while (!stack.empty()) {
            const std::uint32_t m = stack.back();
            stack.pop_back();
            if (runs[m]) {
                found[n].push_back(m);
                continue;
            }
            for (const std::uint32_t* k = before.row_begin(m); k != before.row_end(m); ++k)
                if (seen[*k] != n) {
                    seen[*k] = n;
                    stack.push_back(*k);
                }
        }
        std::sort(found[n].begin(), found[n].end());
    }
    return found;
}

}  // namespace

execution_graph build_execution_graph(const trace_model& model) {
    const trace_model::execution_list& executions = model.executions();
    const std::size_t objects = model.objects().size();
    execution_graph graph;
    for (std::uint32_t e = 0; e < executions.size(); ++e)
        // One still open at the end of its file has no duration: it counts
        // nowhere.
        if (executions[e].role == trace_model::execution_role::task && executions[e].node != no_index &&
            !executions[e].open_at_end)
            graph.members.push_back(e);
    auto earlier = [&](std::uint32_t a, std::uint32_t b) {
        return executions[a].begin != executions[b].begin ? executions[a].begin < executions[b].begin : a < b;
    };
    // Executions are made in the order they begin: sorting is for the
    // files whose clock stepped back.
    if (!std::is_sorted(graph.members.begin(), graph.members.end(), earlier))
        std::sort(graph.members.begin(), graph.members.end(), earlier);
    std::vector<std::uint32_t> place(executions.size(), no_index);
    for (std::uint32_t i = 0; i < graph.members.size(); ++i) place[graph.members[i]] = i;

    // Each node's executions in the graph by end, for finding the latest to
    // end before a given time.
    std::vector<bool> runs(objects, false);
    index_pairs by_node;
    by_node.reserve(graph.members.size());
    for (std::uint32_t e : graph.members) {
        runs[executions[e].node] = true;
        by_node.push_back({executions[e].node, e});
    }
    compressed_rows ending(objects, by_node);
    const auto ends_first = [&](std::uint32_t a, std::uint32_t b) {
        return executions[a].end != executions[b].end ? executions[a].end < executions[b].end : earlier(a, b);
    };
    for (std::size_t n = 0; n < objects; ++n) {
        const auto first = ending.targets.begin() + ending.begin[n], last = ending.targets.begin() + ending.begin[n + 1];
        if (!std::is_sorted(first, last, ends_first)) std::sort(first, last, ends_first);
    }
    const std::vector<std::vector<std::uint32_t>> before = running_predecessors(model, runs);
    // Their ends beside them, read in order rather than each from its
    // execution.
    std::vector<std::uint64_t> end_at(ending.targets.size());
    for (std::size_t k = 0; k < end_at.size(); ++k) end_at[k] = executions[ending.targets[k]].end;
    // Executions come in the order they begin, so the executions of a node
    // that ended by the time one began only grow: each node keeps where the
    // last search stopped, and the searches of a run together walk each
    // node's executions once.
    index_list ended_by(ending.begin.begin(), ending.begin.end() - 1);

    index_pairs edges;
    for (std::uint32_t i = 0; i < graph.members.size(); ++i) {
        const std::uint32_t e = graph.members[i];
        const execution& x = executions[e];
        for (std::uint32_t m : before[x.node]) {
            const std::uint32_t first = ending.begin[m], last = ending.begin[m + 1];
            std::uint32_t& past = ended_by[m];
            while (past != last && end_at[past] <= x.begin) ++past;
            // Of the executions of m that ended by the time x began, the
            // latest that also comes before x in the graph's order (an
            // execution that ended the instant x began, having begun then
            // too, may come after it).
            std::uint32_t latest = past;
            while (latest != first && !earlier(ending.targets[latest - 1], e)) --latest;
            if (latest != first) edges.push_back({i, place[ending.targets[latest - 1]]});
        }
    }
    graph.predecessors = compressed_rows(graph.members.size(), edges);
    return graph;
}

std::vector<std::uint64_t> recorded_durations(const trace_model& model, const execution_graph& graph) {
    std::vector<std::uint64_t> durations;
    durations.reserve(graph.members.size());
    for (std::uint32_t e : graph.members) durations.push_back(model.executions()[e].busy);
    return durations;
}

path_summary longest_path(const execution_graph& graph, const std::vector<std::uint64_t>& durations) {
    path_summary summary;
    const std::size_t n = graph.members.size();
    std::vector<std::uint64_t> finish(n, 0);
    std::vector<std::uint32_t> via(n, no_index);
    std::uint32_t last = no_index;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint64_t start = 0;
        for (const std::uint32_t* p = graph.predecessors.row_begin(i); p != graph.predecessors.row_end(i); ++p)
            if (via[i] == no_index || finish[*p] > start) {
                start = finish[*p];
                via[i] = *p;
            }
        const std::uint64_t d = durations[i];
        finish[i] = saturating_add(start, d);
        summary.work = saturating_add(summary.work, d);
        if (last == no_index || finish[i] > summary.span) {
            summary.span = finish[i];
            last = i;
        }
    }
    for (std::uint32_t at = last; at != no_index; at = via[at]) summary.critical_path.push_back(at);
    std::reverse(summary.critical_path.begin(), summary.critical_path.end());
    summary.parallelism =
        summary.span == 0 ? 0 : static_cast<double>(summary.work) / static_cast<double>(summary.span);
    return summary;
}

}  // namespace mvt_trace
