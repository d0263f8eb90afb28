#ifndef MVT_TRACE_GRAPH_MODEL_H
#define MVT_TRACE_GRAPH_MODEL_H

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/name_table.h"
#include "reading/record_visitor.h"

namespace mvt_trace {

// A task group as first declared. The same identifier may be declared again
// under another parent (a port of an inner node is also a port of the
// composite node around it); it stays nested where it first appeared.
struct graph_group {
    trace_id id;
    trace_id parent;
    std::uint64_t name = 0;
    bool declared = true;  // false for a parent that was named but never declared
    std::vector<std::size_t> members;
};

struct graph_edge {
    trace_id from;
    trace_id to;
};

// The graph a run recorded, gathered from task_group and relation records.
class graph_model : public record_visitor {
public:
    void record(const trace_record& record) override;
    // Links every group to its parent; call once after the pass.
    void build();

    const name_table& names() const { return names_; }
    const std::vector<graph_group>& groups() const { return groups_; }
    const std::vector<graph_edge>& edges() const { return edges_; }
    // Positions of the groups with no (known) parent, in declaration order.
    const std::vector<std::size_t>& roots() const { return roots_; }
    // The group's position, or -1 for an identifier that was never one.
    long find(const trace_id& id) const;

private:
    std::size_t add_group(const trace_id& id, const trace_id& parent, std::uint64_t name, bool declared);

    name_table names_;
    std::vector<graph_group> groups_;
    std::unordered_map<trace_id, std::size_t, trace_id_hash> positions_;
    std::vector<graph_edge> edges_;
    std::vector<std::size_t> roots_;
};

}  // namespace mvt_trace

#endif
