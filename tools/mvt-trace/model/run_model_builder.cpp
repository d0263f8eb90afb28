#include "model/run_model_builder.h"

#include <algorithm>
#include <cstdint>

namespace mvt_trace {

namespace {

// Relation codes of the instrumentation API.
constexpr int is_parent_of = 3;
constexpr int is_child_of = 5;
constexpr int is_predecessor_to = 7;

// Conflicts beyond this many are counted, not listed.
constexpr std::size_t listed_conflicts = 3;

// Adjacency lists in two arrays: the targets of v are
// targets[begin[v] .. begin[v + 1]), in the order of the pairs.
struct compressed_rows {
    std::vector<std::size_t> begin;
    std::vector<std::size_t> targets;

    compressed_rows(std::size_t n, const std::vector<std::pair<std::size_t, std::size_t>>& pairs)
        : begin(n + 1, 0), targets(pairs.size()) {
        for (const auto& pair : pairs) ++begin[pair.first + 1];
        for (std::size_t v = 0; v < n; ++v) begin[v + 1] += begin[v];
        std::vector<std::size_t> next(begin.begin(), begin.end() - 1);
        for (const auto& pair : pairs) targets[next[pair.first]++] = pair.second;
    }
};

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

run_model_builder::run_model_builder(std::size_t processes) {
    model_.names_.resize(processes);
    model_.openmp_domains_.resize(processes);
}

void run_model_builder::begin_file(const trace_file& file, std::size_t) {
    process_ = file.process;
    if (process_ >= model_.names_.size()) {
        model_.names_.resize(process_ + 1);
        model_.openmp_domains_.resize(process_ + 1);
    }
}

void run_model_builder::record(const trace_record& record) {
    switch (record.kind) {
        case record_kind::domain_create_a:
        case record_kind::domain_create_w:
        case record_kind::string_handle_create_a:
        case record_kind::string_handle_create_w: model_.names_[process_].record(record); break;
        case record_kind::task_group: declare(record); break;
        case record_kind::relation: {
            const int kind = static_cast<int>(record.number(2));
            if (kind == is_parent_of || kind == is_child_of || kind == is_predecessor_to)
                relations_.push_back({static_cast<std::uint32_t>(process_), kind, record.number(0), record.id(1), record.id(3)});
            break;
        }
        case record_kind::metadata: add_metadata(record, false); break;
        case record_kind::metadata_string_a:
        case record_kind::metadata_string_w: add_metadata(record, true); break;
        default: break;
    }
}

void run_model_builder::declare(const trace_record& record) {
    const trace_id& id = record.id(1);
    const trace_id& parent = record.id(2);
    const std::uint64_t kind = record.number(3);
    auto [position, added] =
        model_.positions_.emplace(process_, id, static_cast<std::uint32_t>(declarations_.size()));
    if (added) {
        declaration first;
        first.id = id;
        first.parent = parent;
        first.domain = record.number(0);
        first.kind_handle = kind;
        first.process = static_cast<std::uint32_t>(process_);
        declarations_.push_back(first);
        return;
    }
    declaration& known = declarations_[*position];
    if (kind != known.kind_handle && !known.kind_differs) {
        known.kind_differs = true;
        known.other_kind = kind;
    }
    if (parent == known.parent) return;
    for (std::uint32_t at = known.other_parents; at != none; at = other_parents_[at].next)
        if (other_parents_[at].parent == parent) return;
    other_parents_.push_back({parent, known.other_parents});
    known.other_parents = static_cast<std::uint32_t>(other_parents_.size() - 1);
}

void run_model_builder::add_metadata(const trace_record& record, bool is_text) {
    metadata_value value;
    value.key = record.number(2);
    value.is_text = is_text;
    if (is_text) {
        value.text_begin = metadata_text_.size();
        value.text_size = record.text(4).size();
        metadata_text_.append(record.text(4));
    } else {
        value.number = record.number(5);
    }
    const auto index = static_cast<std::uint32_t>(metadata_.size());
    metadata_.push_back(value);
    auto [head, added] =
        metadata_lists_.emplace(process_, record.id(1), static_cast<std::uint32_t>(metadata_heads_.size()));
    if (added) {
        metadata_heads_.push_back({index, index});
        return;
    }
    metadata_list& list = metadata_heads_[*head];
    metadata_[list.last].next = index;
    list.last = index;
}

run_model run_model_builder::build() {
    for (std::size_t p = 0; p < model_.names_.size(); ++p) model_.openmp_domains_[p] = model_.names_[p].domains_named("openmp");
    resolve_objects();
    std::vector<trace_id> first_body;
    std::vector<bool> has_body;
    resolve_bodies(first_body, has_body);
    resolve_edges();
    resolve_labels(first_body, has_body);
    collect_conflicts();
    return std::move(model_);
}

// Kinds, roles, parents, children and ports, now that every name and every
// declaration is known whatever file it came from.
void run_model_builder::resolve_objects() {
    run_model::object_list& objects = model_.objects_;
    objects.resize(declarations_.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const declaration& d = declarations_[i];
        graph_object& object = objects[i];
        object.process = d.process;
        object.id = d.id;
        object.parent = d.parent;
        object.domain = d.domain;
        object.kind = model_.names_[d.process].handle_name(d.kind_handle);
        if (starts_with(object.kind, "input_port") || starts_with(object.kind, "output_port"))
            object.role = object_role::port;
    }
    model_.node_flags_.resize(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) model_.node_flags_[i] = objects[i].is_node();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        graph_object& object = objects[i];
        const long parent = object.parent.is_null() ? -1 : model_.find(object.process, object.parent);
        if (parent >= 0 && static_cast<std::size_t>(parent) != i) {
            object.parent_object = parent;
            objects[static_cast<std::size_t>(parent)].children.push_back(i);
        } else {
            model_.roots_.push_back(i);
        }
        for (std::uint32_t at = declarations_[i].other_parents; at != none; at = other_parents_[at].next) {
            const long position = model_.find(object.process, other_parents_[at].parent);
            if (position >= 0) object.also_under.insert(object.also_under.begin(), static_cast<std::size_t>(position));
        }
        if (object.role == object_role::port && object.parent_object >= 0 &&
            objects[static_cast<std::size_t>(object.parent_object)].is_node()) {
            object.port_of = object.parent_object;
            objects[static_cast<std::size_t>(object.parent_object)].ports.push_back(i);
        }
    }
}

// Rule 3: identifiers declared a child of a node, or whose parent a node is
// declared to be, run as that node's body. first_body keeps, per node, the
// first body that rules 1 and 2 leave to it, whose metadata may name it.
void run_model_builder::resolve_bodies(std::vector<trace_id>& first_body, std::vector<bool>& has_body) {
    first_body.assign(model_.objects_.size(), trace_id{});
    has_body.assign(model_.objects_.size(), false);
    for (std::size_t i = 0; i < relations_.size(); ++i) {
        const relation& r = relations_[i];
        if (r.kind != is_child_of && r.kind != is_parent_of) continue;
        const trace_id& node_id = r.kind == is_child_of ? r.tail : r.head;
        const trace_id& body = r.kind == is_child_of ? r.head : r.tail;
        const long node = model_.find(r.process, node_id);
        if (node < 0 || !model_.objects_[static_cast<std::size_t>(node)].is_node()) continue;
        if (!model_.bodies_.emplace(r.process, body, static_cast<std::uint32_t>(node)).second) continue;
        const bool claimed_by_rule_1 = model_.find(r.process, body) >= 0;
        const bool claimed_by_rule_2 = body.d2 == 0 && body.d3 == 0 && model_.is_openmp_domain(r.process, r.domain) &&
                                       model_.find(r.process, trace_id{body.d1, 1, 0}) >= 0;
        const auto at = static_cast<std::size_t>(node);
        if (!claimed_by_rule_1 && !claimed_by_rule_2 && !has_body[at]) {
            first_body[at] = body;
            has_body[at] = true;
        }
    }
}

// The node an edge end stands for (a node, or a port's node), -1 for an
// identifier that is no group (a pass-through vertex), -2 for a group that
// stands for no node (a port outside any node).
long run_model_builder::edge_end(const relation& r, const trace_id& id) const {
    const long position = model_.find(r.process, id);
    if (position < 0) return -1;
    const graph_object& object = model_.objects_[static_cast<std::size_t>(position)];
    if (object.is_node()) return position;
    return object.port_of >= 0 ? object.port_of : -2;
}

void run_model_builder::resolve_edges() {
    // Vertices are numbered as met; their edges are kept apart from the
    // direct node-to-node ones until paths through them are followed.
    id_map vertex_numbers;
    auto vertex = [&](std::size_t process, const trace_id& id) -> std::size_t {
        return *vertex_numbers.emplace(process, id, static_cast<std::uint32_t>(vertex_numbers.size())).first;
    };
    std::vector<node_edge> edges;
    std::vector<std::pair<std::size_t, std::size_t>> node_to_vertex, vertex_to_node_pairs, vertex_to_vertex_pairs;
    for (std::size_t i = 0; i < relations_.size(); ++i) {
        const relation& r = relations_[i];
        if (r.kind != is_predecessor_to) continue;
        const long from = edge_end(r, r.head);
        const long to = edge_end(r, r.tail);
        if (from == -2 || to == -2) continue;
        if (from >= 0 && to >= 0) {
            edges.push_back({static_cast<std::size_t>(from), static_cast<std::size_t>(to)});
            continue;
        }
        const std::size_t from_vertex = from < 0 ? vertex(r.process, r.head) : 0;
        const std::size_t to_vertex = to < 0 ? vertex(r.process, r.tail) : 0;
        if (from >= 0)
            node_to_vertex.push_back({static_cast<std::size_t>(from), to_vertex});
        else if (to >= 0)
            vertex_to_node_pairs.push_back({from_vertex, static_cast<std::size_t>(to)});
        else
            vertex_to_vertex_pairs.push_back({from_vertex, to_vertex});
    }
    const compressed_rows vertex_to_node(vertex_numbers.size(), vertex_to_node_pairs);
    const compressed_rows vertex_to_vertex(vertex_numbers.size(), vertex_to_vertex_pairs);
    // Each node's way into a vertex is followed through vertices only, to
    // the nodes on the far side; an explicit stack, as chains of vertices
    // come from the trace.
    std::vector<std::size_t> visited_by(vertex_numbers.size(), SIZE_MAX);
    std::vector<std::size_t> stack;
    std::size_t walk = 0;
    for (const auto& [node, first] : node_to_vertex) {
        ++walk;
        stack.assign(1, first);
        visited_by[first] = walk;
        while (!stack.empty()) {
            const std::size_t v = stack.back();
            stack.pop_back();
            for (std::size_t e = vertex_to_node.begin[v]; e < vertex_to_node.begin[v + 1]; ++e)
                edges.push_back({node, vertex_to_node.targets[e]});
            for (std::size_t e = vertex_to_vertex.begin[v]; e < vertex_to_vertex.begin[v + 1]; ++e) {
                const std::size_t next = vertex_to_vertex.targets[e];
                if (visited_by[next] == walk) continue;
                visited_by[next] = walk;
                stack.push_back(next);
            }
        }
    }
    edges.erase(std::remove_if(edges.begin(), edges.end(), [](const node_edge& e) { return e.from == e.to; }),
                edges.end());
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    model_.edges_ = std::move(edges);
    model_.vertices_ = vertex_numbers.size();
}

// Fills what the object still lacks from the metadata of one identifier;
// true once it has both a label and a code address.
bool run_model_builder::apply_metadata(graph_object& object, const trace_id& id) {
    const std::uint32_t* head = metadata_lists_.find(object.process, id);
    const metadata_list* list = head ? &metadata_heads_[*head] : nullptr;
    const name_table& names = model_.names_[object.process];
    const metadata_value* label = nullptr;
    bool label_is_a_name = false;
    for (std::uint32_t at = list ? list->first : none; at != none; at = metadata_[at].next) {
        const metadata_value& value = metadata_[at];
        const std::string key = names.handle_name(value.key);
        if (value.is_text && (label == nullptr || (!label_is_a_name && ends_with(key, "name")))) {
            label = &value;
            label_is_a_name = ends_with(key, "name");
        }
        if (!value.is_text && key == "code_address" && !object.has_code_address) {
            object.has_code_address = true;
            object.code_address = value.number;
        }
    }
    if (label != nullptr && object.label.empty()) object.label = metadata_text_.substr(label->text_begin, label->text_size);
    return !object.label.empty() && object.has_code_address;
}

void run_model_builder::resolve_labels(const std::vector<trace_id>& first_body, const std::vector<bool>& has_body) {
    for (std::size_t i = 0; i < model_.objects_.size(); ++i) {
        graph_object& object = model_.objects_[i];
        if (apply_metadata(object, object.id) || !object.is_node()) continue;
        // What was said of the identifiers that run as the node counts for
        // the node: OpenMP puts a task's code address on {T, 0, 0}.
        if (object.id.d2 == 1 && object.id.d3 == 0 && model_.is_openmp_domain(object.process, object.domain) &&
            apply_metadata(object, trace_id{object.id.d1, 0, 0}))
            continue;
        if (has_body[i]) apply_metadata(object, first_body[i]);
    }
}

void run_model_builder::collect_conflicts() {
    for (std::size_t i = 0; i < declarations_.size(); ++i) {
        const declaration& d = declarations_[i];
        if (!d.kind_differs) continue;
        const graph_object& object = model_.objects_[i];
        const std::string other = model_.names_[object.process].handle_name(d.other_kind);
        if (other == object.kind) continue;
        ++model_.conflict_count_;
        if (model_.conflicts_.size() < listed_conflicts)
            model_.conflicts_.push_back({object.process, object.id, object.kind, other});
    }
}

}  // namespace mvt_trace
