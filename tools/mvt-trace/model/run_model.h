#ifndef MVT_TRACE_RUN_MODEL_H
#define MVT_TRACE_RUN_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/large_allocator.h"
#include "model/id_table.h"
#include "model/name_table.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// The graph a run declared and the rules that tie its executions to it.
//
// Graph objects are the task_group records: an identifier, the identifier of
// a parent and a kind (the name handle's string: "graph", "node",
// "composite_node", "input_port_0", a runtime's own node kinds). Identifiers
// are compared on all three words and belong to one process: two processes
// may use the same words for unrelated objects.
//
// A group whose kind starts with "input_port" or "output_port" is a port;
// when its parent is a node the port belongs to that node. Every other group
// is a node. A group declared again under another parent stays where it was
// first declared and lists the others (OpenMP declares a region's outer ports
// once under the inner node and once under the composite node around it).
//
// Edges are the is_predecessor_to relations, from head to tail. Either end
// may be a node, a port (standing for its node) or an identifier that no
// task_group declares: a pass-through vertex, such as the storage location of
// an OpenMP dependence. Paths node -> vertex ... vertex -> node become one
// edge node -> node. The dependency graph is the set of nodes joined by such
// edges; a node's edge to itself is left out (it cannot wait for itself).
//
// An execution (task or region) belongs to the node that the first of these
// rules finds:
//   1. the node whose identifier equals the execution's;
//   2. in the OpenMP model (domain "openmp"), the task node {T, 1, 0} of the
//      execution {T, 0, 0}; this comes before rule 3 because OpenMP also
//      declares {T, 0, 0} a child of the task that created it;
//   3. a node related to the execution's identifier by is_child_of (the
//      execution is the child of the node) or is_parent_of (the node is the
//      parent of the execution): task-graph runtimes declare a node's body
//      this way and begin each execution of the body with its identifier.
//      Among several such relations the first one read wins.
// An execution that no rule ties to a node is unattached.
enum class object_role { node, port };

struct graph_object {
    std::size_t process = 0;
    trace_id id;
    std::uint64_t domain = 0;  // domain address of the first declaration
    std::string kind;
    object_role role = object_role::node;
    trace_id parent;          // as first declared; null for none
    long parent_object = -1;  // the parent's position, or -1 when undeclared or none
    // Where it was declared again, under other parents (positions).
    std::vector<std::size_t> also_under;
    // Groups declared under it (first declarations), in declaration order.
    std::vector<std::size_t> children;
    // For a node: its ports. For a port: the node it belongs to, or -1.
    std::vector<std::size_t> ports;
    long port_of = -1;
    // From metadata on its identifier, or on an identifier attached to it by
    // rule 2 or 3: a string value (preferring a key whose name ends in
    // "name"), and an unsigned value keyed "code_address".
    std::string label;
    bool has_code_address = false;
    std::uint64_t code_address = 0;

    bool is_node() const { return role == object_role::node; }
    // The label, else the kind: how people call it.
    const std::string& name() const { return label.empty() ? kind : label; }
};

// A resolved edge between two nodes (positions in objects()).
// (vertex_graph below also uses it between its points.)
struct node_edge {
    std::size_t from = 0;
    std::size_t to = 0;
    friend bool operator==(const node_edge& a, const node_edge& b) { return a.from == b.from && a.to == b.to; }
    friend bool operator<(const node_edge& a, const node_edge& b) {
        return a.from != b.from ? a.from < b.from : a.to < b.to;
    }
};

// An identifier that two groups declared as different kinds of object.
struct kind_conflict {
    std::size_t process = 0;
    trace_id id;
    std::string first_kind;
    std::string other_kind;
};

// The dependency graph with its pass-through vertices kept as points of
// their own. Expanding a vertex that many nodes write and many read makes an
// edge of every pair; kept as a point it costs one edge per relation. A path
// through vertices stands for the same chain of nodes, so the heaviest path
// and the cycles come out as from the expanded edges.
//
// Points 0 .. objects().size() - 1 are the objects; vertex v is the point
// objects().size() + v.
struct vertex_graph {
    std::size_t vertices = 0;
    // Between points, sorted by (from, to), without duplicates; only nodes of
    // the dependency graph (below) and vertices take part, and no node has
    // an edge to itself.
    std::vector<node_edge> edges;
    // The nodes that some edge, once expanded, joins to another node,
    // ascending: the dependency graph's nodes.
    std::vector<std::size_t> nodes;
};

class run_model {
public:
    using object_list = std::vector<graph_object, large_allocator<graph_object>>;

    // Objects in order of first declaration, process by process.
    const object_list& objects() const { return objects_; }
    // Distinct node-to-node edges, sorted by (from, to). Complete unless
    // expanding the pass-through vertices would have made too many edges
    // (edges_complete() false; see expansion_limits): it then holds the
    // edges of the nodes declared first, found before the limit (up to a
    // million and more, beyond what a drawing can show), and its size is a
    // lower bound of the edge count.
    const std::vector<node_edge>& edges() const { return edges_; }
    bool edges_complete() const { return edges_complete_; }
    // When edges() is not complete: the dependency graph with its vertices,
    // which gives the nodes, work, span and critical path exactly. Empty
    // otherwise.
    const vertex_graph& graph_with_vertices() const { return graph_with_vertices_; }
    // Objects without a declared parent, in declaration order.
    const std::vector<std::size_t>& roots() const { return roots_; }
    // Identifiers that ended edges without being declared.
    std::size_t pass_through_vertices() const { return vertices_; }
    const std::vector<kind_conflict>& kind_conflicts() const { return conflicts_; }
    // How many identifiers were declared as different kinds (conflicts keeps
    // a few examples).
    std::size_t kind_conflict_count() const { return conflict_count_; }

    std::size_t processes() const { return names_.size(); }
    const name_table& names(std::size_t process) const { return names_.at(process); }

    // The object's position, or -1 when the process declared no such group.
    long find(std::size_t process, const trace_id& id) const;
    // The node an execution belongs to (the three rules above), or -1.
    // `domain` is the address in the execution's begin record.
    long node_of_execution(std::size_t process, const trace_id& id, std::uint64_t domain) const;
    // The same for an identifier known by the number that the model's
    // builder gave it (run_model_builder::number_of).
    long node_of_execution_number(std::size_t process, std::uint32_t id, std::uint64_t domain) const;
    // Whether the address names the domain "openmp" in that process.
    bool is_openmp_domain(std::size_t process, std::uint64_t domain) const;

private:
    friend class run_model_builder;
    using number_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;

    // The node under the identifier's number in `table`, or -1.
    long node_in(const std::vector<number_list>& table, std::size_t process, std::uint32_t number) const;

    std::vector<name_table> names_;
    std::vector<std::vector<std::uint64_t>> openmp_domains_;  // per process
    object_list objects_;
    // is_node() of each object, packed: the lookup of every execution reads
    // it, and the objects themselves are large.
    std::vector<bool> node_flags_;
    // Per process: the numbers of its identifiers, and by number the object
    // declared under the identifier and the node it is the body of (rule 3),
    // id_table::none for none.
    std::vector<id_table> ids_;
    std::vector<number_list> object_of_id_;
    std::vector<number_list> body_of_id_;
    std::vector<node_edge> edges_;
    bool edges_complete_ = true;
    vertex_graph graph_with_vertices_;
    std::vector<std::size_t> roots_;
    std::size_t vertices_ = 0;
    std::vector<kind_conflict> conflicts_;
    std::size_t conflict_count_ = 0;
};

// "d1.d2.d3", all three words: the form identifiers take in JSON.
std::string full_id_text(const trace_id& id);

}  // namespace mvt_trace

#endif
