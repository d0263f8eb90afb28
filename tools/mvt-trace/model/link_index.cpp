#include "model/link_index.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace mvt_trace {

namespace {

// Relation codes of the instrumentation API.
constexpr int is_dependent_on = 1;
constexpr int is_parent_of = 3;
constexpr int is_continuation_of = 4;
constexpr int is_child_of = 5;
constexpr int is_continued_by = 6;
constexpr int is_predecessor_to = 7;

// The node of a graph object shares its value with the task it stands for and
// differs by the tag word 1; links and metadata follow it to the task.
trace_id untagged(const trace_id& id) { return trace_id{id.d1, 0, id.d3}; }

}  // namespace

void link_index::record(const trace_record& record) {
    names_.record(record);
    if (!seen_) first_ = last_ = record.timestamp;
    seen_ = true;
    first_ = std::min(first_, record.timestamp);
    last_ = std::max(last_, record.timestamp);
    switch (record.kind) {
        case record_kind::task_begin: executed_.insert(record.id(1)); break;
        case record_kind::relation:
            relations_.push_back({record.id(1), static_cast<int>(record.number(2)), record.id(3)});
            break;
        case record_kind::metadata: {
            metadata_entry entry;
            entry.key = record.number(2);
            entry.number = record.number(5);
            metadata_[record.id(1)].push_back(entry);
            break;
        }
        case record_kind::metadata_string_a:
        case record_kind::metadata_string_w: {
            metadata_entry entry;
            entry.key = record.number(2);
            entry.is_text = true;
            entry.text = std::string(record.text(4));
            metadata_[record.id(1)].push_back(entry);
            break;
        }
        default: break;
    }
}

const std::vector<metadata_entry>* link_index::metadata_of(const trace_id& execution) const {
    auto found = metadata_.find(execution);
    if (found == metadata_.end()) found = metadata_.find(trace_id{execution.d1, 1, execution.d3});
    return found == metadata_.end() ? nullptr : &found->second;
}

bool link_index::resolve(const trace_id& id, trace_id& execution) const {
    if (executed(id)) {
        execution = id;
        return true;
    }
    if (executed(untagged(id))) {
        execution = untagged(id);
        return true;
    }
    return false;
}

void link_index::resolve_links() {
    // Dependences run through vertices that never execute (the storage a
    // task writes and another reads); a vertex's incoming and outgoing
    // predecessor relations are joined into direct links.
    std::unordered_map<trace_id, std::vector<trace_id>, trace_id_hash> into_vertex, out_of_vertex;
    std::set<std::tuple<trace_id, trace_id, int>> seen;
    auto add = [&](const trace_id& from, const trace_id& to, int kind) {
        const std::tuple<trace_id, trace_id, int> link{from, to, kind};
        if (from == to || seen.count(link) != 0) return;
        if (links_.size() >= most_links) {
            links_left_out_ = true;
            return;
        }
        seen.insert(link);
        links_.push_back({from, to, kind});
    };
    for (const relation_entry& r : relations_) {
        bool reversed = r.kind == is_child_of || r.kind == is_dependent_on || r.kind == is_continuation_of;
        bool directed = reversed || r.kind == is_parent_of || r.kind == is_continued_by || r.kind == is_predecessor_to;
        if (!directed) continue;
        const trace_id& from = reversed ? r.tail : r.head;
        const trace_id& to = reversed ? r.head : r.tail;
        trace_id from_execution, to_execution;
        bool from_ok = resolve(from, from_execution);
        bool to_ok = resolve(to, to_execution);
        if (from_ok && to_ok)
            add(from_execution, to_execution, r.kind);
        else if (from_ok && r.kind == is_predecessor_to)
            into_vertex[to].push_back(from_execution);
        else if (to_ok && r.kind == is_predecessor_to)
            out_of_vertex[from].push_back(to_execution);
    }
    // Walk in record order so the link order does not depend on hashing;
    // each vertex is joined once, at the first relation into it.
    std::unordered_set<trace_id, trace_id_hash> joined;
    for (const relation_entry& r : relations_) {
        if (r.kind != is_predecessor_to || links_left_out_) continue;
        auto in = into_vertex.find(r.tail);
        auto out = out_of_vertex.find(r.tail);
        if (in == into_vertex.end() || out == out_of_vertex.end() || !joined.insert(r.tail).second) continue;
        for (const trace_id& from : in->second)
            for (const trace_id& to : out->second) {
                add(from, to, is_predecessor_to);
                if (links_left_out_) break;
            }
    }
    relations_.clear();
    relations_.shrink_to_fit();
}

}  // namespace mvt_trace
