#include "model/graph_model.h"

#include <set>

namespace mvt_trace {

namespace {
constexpr int is_predecessor_to = 7;
}

std::size_t graph_model::add_group(const trace_id& id, const trace_id& parent, std::uint64_t name, bool declared) {
    graph_group group;
    group.id = id;
    group.parent = parent;
    group.name = name;
    group.declared = declared;
    groups_.push_back(group);
    positions_.emplace(id, groups_.size() - 1);
    return groups_.size() - 1;
}

void graph_model::record(const trace_record& record) {
    names_.record(record);
    if (record.kind == record_kind::task_group) {
        auto found = positions_.find(record.id(1));
        if (found == positions_.end()) {
            add_group(record.id(1), record.id(2), record.number(3), true);
        } else if (!groups_[found->second].declared) {
            // Named as a parent before its own declaration came along.
            graph_group& group = groups_[found->second];
            group.parent = record.id(2);
            group.name = record.number(3);
            group.declared = true;
        }
    } else if (record.kind == record_kind::relation && record.number(2) == is_predecessor_to) {
        edges_.push_back({record.id(1), record.id(3)});
    }
}

long graph_model::find(const trace_id& id) const {
    auto found = positions_.find(id);
    return found == positions_.end() ? -1 : static_cast<long>(found->second);
}

void graph_model::build() {
    // Parents that were never declared still get a group, so their members
    // stay together.
    for (std::size_t i = 0; i < groups_.size(); ++i) {
        trace_id parent = groups_[i].parent;
        if (!parent.is_null() && positions_.count(parent) == 0) add_group(parent, trace_id{}, 0, false);
    }
    // Duplicate edges add nothing to the picture.
    std::set<std::pair<trace_id, trace_id>> seen;
    std::vector<graph_edge> unique;
    for (const graph_edge& e : edges_)
        if (seen.insert({e.from, e.to}).second) unique.push_back(e);
    edges_.swap(unique);
    for (std::size_t i = 0; i < groups_.size(); ++i) {
        const graph_group& group = groups_[i];
        long parent = group.parent.is_null() ? -1 : find(group.parent);
        if (parent < 0 || static_cast<std::size_t>(parent) == i)
            roots_.push_back(i);
        else
            groups_[static_cast<std::size_t>(parent)].members.push_back(i);
    }
}

}  // namespace mvt_trace
