#include "analysis/execution_statistics.h"

#include <algorithm>
#include <map>

#include "analysis/rows_by_total.h"

namespace mvt_trace {

const node_statistics* execution_statistics::row(std::uint32_t object) const {
    if (object >= row_of_object.size() || row_of_object[object] == no_index) return nullptr;
    const std::uint32_t r = row_of_object[object];
    return r & runtime_row ? &runtime_nodes[r & ~runtime_row] : &nodes[r];
}

execution_statistics gather_statistics(const trace_model& model) {
    execution_statistics result;
    const std::size_t objects = model.objects().size();
    // Rows only for the objects that ran (most objects of a run are ports,
    // groups and nodes that never run, and a row is large), made in place in
    // the order of the objects, as ties must come out: which ran is found
    // first, then each execution is added to its row.
    std::vector<char> ran(objects, 0);  // 1 a task node, 2 a node of the runtime's
    for (const trace_model::execution& e : model.executions())
        if (!e.open_at_end && e.node != no_index)
            ran[e.node] = std::max<char>(ran[e.node], e.role == trace_model::execution_role::runtime ? 2 : 1);
    std::vector<std::uint32_t> row_of(objects, no_index);
    std::size_t tasks = 0, runtime_rows = 0;
    for (std::uint32_t object = 0; object < objects; ++object) {
        if (ran[object] == 0) continue;
        row_of[object] = static_cast<std::uint32_t>(ran[object] == 2 ? runtime_rows++ : tasks++);
    }
    result.nodes.resize(tasks);
    result.runtime_nodes.resize(runtime_rows);
    for (std::uint32_t object = 0; object < objects; ++object)
        if (ran[object] != 0) (ran[object] == 2 ? result.runtime_nodes : result.nodes)[row_of[object]].object = object;
    // By process and name handle's string: kept in order, so rows of equal
    // totals come out the same way every time.
    std::map<std::pair<std::uint32_t, std::uint32_t>, duration_stats> unattached, runtime;
    for (const trace_model::execution& e : model.executions()) {
        if (e.open_at_end) continue;
        if (e.node != no_index) {
            node_statistics& row = (ran[e.node] == 2 ? result.runtime_nodes : result.nodes)[row_of[e.node]];
            if (row.stats.count() == 0) row.first_begin = e.begin;
            row.stats.add(e.busy);
            continue;
        }
        const std::pair<std::uint32_t, std::uint32_t> key{model.process_of(e), e.name};
        if (e.role == trace_model::execution_role::runtime)
            runtime[key].add(e.busy);
        else
            unattached[key].add(e.busy);
    }
    // Names are grouped by their text: handles of one process that share a
    // string (unnamed ones) are one name.
    auto grouped = [&](std::map<std::pair<std::uint32_t, std::uint32_t>, duration_stats>& source) {
        std::map<std::pair<std::uint32_t, std::string>, duration_stats> by_text;
        for (auto& [key, stats] : source) by_text[{key.first, std::string(model.text(key.second))}].merge(stats);
        std::vector<named_statistics> rows;
        for (auto& [key, stats] : by_text) rows.push_back({key.first, key.second, std::move(stats)});
        sort_by_total(rows);
        return rows;
    };
    result.unattached = grouped(unattached);
    result.runtime = grouped(runtime);
    sort_by_total(result.nodes);
    sort_by_total(result.runtime_nodes);
    result.row_of_object.assign(objects, no_index);
    for (std::uint32_t r = 0; r < result.nodes.size(); ++r) result.row_of_object[result.nodes[r].object] = r;
    for (std::uint32_t r = 0; r < result.runtime_nodes.size(); ++r)
        result.row_of_object[result.runtime_nodes[r].object] = r | execution_statistics::runtime_row;
    return result;
}

}  // namespace mvt_trace
