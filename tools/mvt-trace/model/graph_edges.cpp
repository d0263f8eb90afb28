// The edges between nodes: is_predecessor_to relations through ports and
// pass-through vertices, and OpenMP's dependences by OpenMP's own rule.

#include <algorithm>
#include <unordered_map>

#include "model/edge_expansion.h"
#include "model/model_builder.h"

namespace mvt_trace {

namespace {

using object = trace_model::object;

}  // namespace

void model_builder::collect_edges() {
    vertex_links links;
    links.objects = model_.objects_.size();
    index_pairs dependence_edges;
    std::size_t relations = 0;
    for (std::uint32_t p = 0; p < states_.size(); ++p) {
        const process_state& state = states_[p];
        const trace_model::process& process = model_.processes_[p];
        number_list vertex_of_id;
        auto vertex = [&](std::uint32_t id) {
            if (vertex_of_id.empty()) vertex_of_id.assign(process.ids.size(), no_index);
            if (vertex_of_id[id] == no_index) vertex_of_id[id] = static_cast<std::uint32_t>(links.vertices++);
            return vertex_of_id[id];
        };
        // A node, a port's node, or -1 for an identifier that no group
        // declares (a pass-through vertex); -2 for a group that stands for no
        // node.
        auto end_of = [&](std::uint32_t id) -> long {
            const std::uint32_t declared = state.object_of_id[id];
            if (declared == no_index) return -1;
            const object& o = model_.objects_[declared];
            if (o.is_node()) return declared;
            return o.port_of != no_index ? static_cast<long>(o.port_of) : -2;
        };
        for (const auto& [r, f] : relations_[p]) {
            if (r->code != relation_is_predecessor_to) continue;
            const std::uint32_t head = id_number(f, r->head);
            const std::uint32_t tail = id_number(f, r->tail);
            const long from = end_of(head);
            const long to = end_of(tail);
            if (process.is_openmp_domain(address(f, r->domain)) &&
                ((from >= 0 && to == -1 && model_.objects_[static_cast<std::size_t>(from)].is_openmp_task_node()) ||
                 (to >= 0 && from == -1 && model_.objects_[static_cast<std::size_t>(to)].is_openmp_task_node())))
                continue;  // a dependence: add_openmp_dependences reads it
            const std::uint32_t head_object = state.object_of_id[head], tail_object = state.object_of_id[tail];
            if (head_object != no_index && tail_object != no_index && head_object != tail_object)
                model_.port_edges_.push_back({head_object, tail_object});
            if (from == -2 || to == -2) continue;
            ++relations;
            const auto from_node = static_cast<std::uint32_t>(from);
            const auto to_node = static_cast<std::uint32_t>(to);
            if (from >= 0 && to >= 0)
                links.direct.push_back({from_node, to_node});
            else if (from >= 0)
                links.into_vertex.push_back({from_node, vertex(tail)});
            else if (to >= 0)
                links.out_of_vertex.push_back({vertex(head), to_node});
            else
                links.between_vertices.push_back({vertex(head), vertex(tail)});
        }
        if (!process.openmp_domains.empty()) add_openmp_dependences(p, dependence_edges);
    }
    expanded_edges expanded = expand_edges(links, expansion_limits::for_relations(relations));
    model_.edges_complete_ = expanded.complete;
    std::vector<trace_model::edge>& edges = model_.edges_;
    edges.reserve(expanded.edges.size() + dependence_edges.size());
    for (const index_pair& e : expanded.edges) edges.push_back({e.first, e.second});
    for (const index_pair& e : dependence_edges)
        if (e.first != e.second) edges.push_back({e.first, e.second});
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<trace_model::edge>& ports = model_.port_edges_;
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
}

// OpenMP orders sibling tasks, those created by one task, in the order they
// were created: a task that reads a storage location (an `in` dependence)
// waits for the last sibling before it that wrote it (`out` or `inout`, which
// the trace does not tell apart and OpenMP orders alike); one that writes it
// waits for that writer and for every reader since. Tasks of different
// parents that name one address are not ordered by it.
//
// The trace has what this needs: a task's node {T, 1, 0} is declared under
// the task that created it, on the creating thread, at creation, and its
// dependences follow as relations to the locations {V, 0, 0}. Objects are in
// order of first declaration, which is the order of creation.
void model_builder::add_openmp_dependences(std::size_t p, index_pairs& edges) {
    const process_state& state = states_[p];
    const trace_model::process& process = model_.processes_[p];
    enum : std::uint8_t { reads = 1, writes = 2 };
    struct dependence {
        std::uint32_t node;
        std::uint32_t location;
        std::uint8_t access;
    };
    std::vector<dependence> dependences;
    for (const auto& [r, f] : relations_[p]) {
        if (r->code != relation_is_predecessor_to || !process.is_openmp_domain(address(f, r->domain))) continue;
        const std::uint32_t head = id_number(f, r->head);
        const std::uint32_t tail = id_number(f, r->tail);
        const std::uint32_t head_object = state.object_of_id[head];
        const std::uint32_t tail_object = state.object_of_id[tail];
        if (head_object != no_index && tail_object == no_index && model_.objects_[head_object].is_openmp_task_node())
            dependences.push_back({head_object, tail, writes});
        else if (tail_object != no_index && head_object == no_index &&
                 model_.objects_[tail_object].is_openmp_task_node())
            dependences.push_back({tail_object, head, reads});
    }
    if (dependences.empty()) return;
    // Each task's dependences together, tasks in order of creation; a task
    // that both reads and writes a location writes it.
    std::stable_sort(dependences.begin(), dependences.end(), [](const dependence& a, const dependence& b) {
        return a.node != b.node ? a.node < b.node : a.location < b.location;
    });
    struct location_state {
        std::uint32_t last_writer = no_index;
        std::vector<std::uint32_t> readers_since;
    };
    // By creating task and location.
    std::unordered_map<std::uint64_t, location_state> locations;
    for (std::size_t i = 0; i < dependences.size();) {
        const std::uint32_t node = dependences[i].node;
        const std::uint64_t creator = sources_[node].parent;
        for (; i < dependences.size() && dependences[i].node == node;) {
            const std::uint32_t location = dependences[i].location;
            std::uint8_t access = 0;
            for (; i < dependences.size() && dependences[i].node == node && dependences[i].location == location; ++i)
                access |= dependences[i].access;
            location_state& s = locations[creator << 32 | location];
            if (s.last_writer != no_index) edges.push_back({s.last_writer, node});
            if (access & writes) {
                for (std::uint32_t reader : s.readers_since) edges.push_back({reader, node});
                s.readers_since.clear();
                s.last_writer = node;
            } else {
                s.readers_since.push_back(node);
            }
        }
    }
}

}  // namespace mvt_trace
