#include "model/run_model_builder.h"

#include <algorithm>
#include <cstdint>

#include "common/text_format.h"
#include "model/edge_expansion.h"

namespace mvt_trace {

namespace {

// Relation codes of the instrumentation API.
constexpr int is_parent_of = 3;
constexpr int is_child_of = 5;
constexpr int is_predecessor_to = 7;

// Conflicts beyond this many are counted, not listed.
constexpr std::size_t listed_conflicts = 3;

}  // namespace

run_model_builder::run_model_builder(const std::vector<trace_file>& files, std::size_t processes) {
    for (const trace_file& file : files) processes = std::max(processes, file.process + 1);
    model_.names_.resize(processes);
    model_.openmp_domains_.resize(processes);
    model_.ids_.resize(processes);
    files_.resize(files.size());
    for (std::size_t f = 0; f < files.size(); ++f) files_[f].process = files[f].process;
}

std::size_t run_model_builder::add_text(std::string_view text) {
    const std::size_t begin = texts_.size();
    texts_.append(text);
    return begin;
}

void run_model_builder::record(const trace_record& record, std::size_t file) {
    file_records& records = files_[file];
    id_table& ids = model_.ids_[records.process];
    switch (record.kind) {
        case record_kind::domain_create_a:
        case record_kind::domain_create_w:
        case record_kind::string_handle_create_a:
        case record_kind::string_handle_create_w: {
            const bool is_domain =
                record.kind == record_kind::domain_create_a || record.kind == record_kind::domain_create_w;
            records.names.push_back({is_domain, record.number(0), add_text(record.text(2)), record.text(2).size()});
            break;
        }
        case record_kind::task_group:
            ++graph_records_;
            records.declarations.push_back(
                {ids.intern(record.id(1)), ids.intern(record.id(2)), record.number(0), record.number(3)});
            break;
        case record_kind::relation: {
            const int kind = static_cast<int>(record.number(2));
            if (kind == is_predecessor_to)
                records.predecessors.push_back({ids.intern(record.id(1)), ids.intern(record.id(3))});
            else if (kind == is_parent_of || kind == is_child_of)
                records.bodies.push_back({ids.intern(record.id(1)), ids.intern(record.id(3)), record.number(0), kind});
            else
                break;
            ++graph_records_;
            break;
        }
        case record_kind::metadata: add_metadata(records, record, false); break;
        case record_kind::metadata_string_a:
        case record_kind::metadata_string_w: add_metadata(records, record, true); break;
        default: break;
    }
}

void run_model_builder::add_metadata(file_records& file, const trace_record& record, bool is_text) {
    ++graph_records_;
    metadata_value value{};
    value.id = model_.ids_[file.process].intern(record.id(1));
    value.key = record.number(2);
    value.is_text = is_text;
    if (is_text) {
        value.text_size = static_cast<std::uint32_t>(record.text(4).size());
        value.value = add_text(record.text(4));
    } else {
        value.value = record.number(5);
    }
    file.metadata.push_back(value);
}

run_model run_model_builder::build() {
    resolve_names();
    collect_objects();
    resolve_objects();
    resolve_bodies();
    resolve_edges();
    index_metadata();
    resolve_labels();
    collect_conflicts();
    // Executions are looked up by identifiers the graph never named: every
    // number gets its place in the tables.
    for (std::size_t p = 0; p < model_.ids_.size(); ++p) {
        model_.object_of_id_[p].resize(model_.ids_[p].size(), none);
        model_.body_of_id_[p].resize(model_.ids_[p].size(), none);
    }
    files_ = std::vector<file_records>();
    sources_ = decltype(sources_)();
    first_body_ = number_list();
    return std::move(model_);
}

// The first name read for an address wins, in the order of the files.
void run_model_builder::resolve_names() {
    for (const file_records& file : files_) {
        name_table& names = model_.names_[file.process];
        for (const name_record& name : file.names) {
            const std::string_view text = std::string_view(texts_).substr(name.text_begin, name.text_size);
            if (name.is_domain)
                names.add_domain(name.address, text);
            else
                names.add_handle(name.address, text);
        }
    }
    for (std::size_t p = 0; p < model_.names_.size(); ++p)
        model_.openmp_domains_[p] = model_.names_[p].domains_named("openmp");
    kind_names_.resize(model_.names_.size());
    key_meanings_.resize(model_.names_.size());
}

// Objects in order of first declaration, with their kinds and roles; a
// group declared again keeps its first parent and kind, and what the others
// said is kept beside it. The objects are made in place: memory reserved
// for declarations that turn out repeated is never touched.
void run_model_builder::collect_objects() {
    std::size_t declarations = 0;
    for (const file_records& file : files_) declarations += file.declarations.size();
    run_model::object_list& objects = model_.objects_;
    objects.reserve(declarations);
    sources_.reserve(declarations);
    model_.object_of_id_.resize(model_.ids_.size());
    model_.body_of_id_.resize(model_.ids_.size());
    for (std::size_t p = 0; p < model_.ids_.size(); ++p) model_.object_of_id_[p].assign(model_.ids_[p].size(), none);
    for (file_records& file : files_) {
        const id_table& ids = model_.ids_[file.process];
        number_list& object_of_id = model_.object_of_id_[file.process];
        file.declarations.for_each([&](const declared& d) {
            std::uint32_t& position = object_of_id[d.id];
            if (position == none) {
                position = static_cast<std::uint32_t>(objects.size());
                objects.emplace_back();
                graph_object& object = objects.back();
                object.process = file.process;
                object.id = ids.id(d.id);
                object.parent = ids.id(d.parent);
                object.domain = d.domain;
                object.kind = kind_name(file.process, d.kind);
                if (starts_with(object.kind, "input_port") || starts_with(object.kind, "output_port"))
                    object.role = object_role::port;
                object_source source;
                source.id = d.id;
                source.parent = d.parent;
                source.kind = d.kind;
                sources_.push_back(source);
                return;
            }
            object_source& known = sources_[position];
            if (d.kind != known.kind && !known.kind_differs) {
                known.kind_differs = true;
                other_kinds_.push_back({position, d.kind});
            }
            if (d.parent == known.parent) return;
            for (std::uint32_t at = known.other_parents; at != none; at = other_parents_[at].next)
                if (other_parents_[at].parent == d.parent) return;
            other_parents_.push_back({d.parent, known.other_parents});
            known.other_parents = static_cast<std::uint32_t>(other_parents_.size() - 1);
        });
        file.declarations = chunked_vector<declared>();
    }
}

const std::string& run_model_builder::kind_name(std::size_t process, std::uint64_t handle) {
    auto [at, added] = kind_names_[process].emplace(handle, std::string());
    if (added) at->second = model_.names_[process].handle_name(handle);
    return at->second;
}

// Parents, children and ports, now that every declaration is known
// whatever file it came from.
void run_model_builder::resolve_objects() {
    run_model::object_list& objects = model_.objects_;
    model_.node_flags_.resize(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) model_.node_flags_[i] = objects[i].is_node();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        graph_object& object = objects[i];
        const object_source& source = sources_[i];
        const std::uint32_t parent = object.parent.is_null() ? none : object_of(object.process, source.parent);
        if (parent != none && parent != i) {
            object.parent_object = parent;
            objects[parent].children.push_back(i);
        } else {
            model_.roots_.push_back(i);
        }
        for (std::uint32_t at = source.other_parents; at != none; at = other_parents_[at].next) {
            const std::uint32_t position = object_of(object.process, other_parents_[at].parent);
            if (position != none) object.also_under.insert(object.also_under.begin(), position);
        }
        if (object.role == object_role::port && object.parent_object >= 0 &&
            objects[static_cast<std::size_t>(object.parent_object)].is_node()) {
            object.port_of = object.parent_object;
            objects[static_cast<std::size_t>(object.parent_object)].ports.push_back(i);
        }
    }
}

// Rule 3: identifiers declared a child of a node, or whose parent a node is
// declared to be, run as that node's body; among several relations the first
// one read wins. first_body_ keeps, per node, the first body that rules 1
// and 2 leave to it, whose metadata may name it.
void run_model_builder::resolve_bodies() {
    first_body_.assign(model_.objects_.size(), none);
    for (std::size_t p = 0; p < model_.ids_.size(); ++p) model_.body_of_id_[p].assign(model_.ids_[p].size(), none);
    for (file_records& file : files_) {
        const std::size_t p = file.process;
        number_list& body_of_id = model_.body_of_id_[p];
        file.bodies.for_each([&](const body_relation& r) {
            const std::uint32_t body = r.kind == is_child_of ? r.head : r.tail;
            const std::uint32_t node = object_of(p, r.kind == is_child_of ? r.tail : r.head);
            if (node == none || !model_.node_flags_[node] || body_of_id[body] != none) return;
            body_of_id[body] = node;
            const trace_id& id = model_.ids_[p].id(body);
            const bool claimed_by_rule_1 = object_of(p, body) != none;
            const bool claimed_by_rule_2 = id.d2 == 0 && id.d3 == 0 && model_.is_openmp_domain(p, r.domain) &&
                                           model_.find(p, trace_id{id.d1, 1, 0}) >= 0;
            if (!claimed_by_rule_1 && !claimed_by_rule_2 && first_body_[node] == none) first_body_[node] = body;
        });
        file.bodies = chunked_vector<body_relation>();
    }
}

// The node an edge end stands for (a node, or a port's node), -1 for an
// identifier that is no group (a pass-through vertex), -2 for a group that
// stands for no node (a port outside any node).
long run_model_builder::edge_end(std::size_t process, std::uint32_t id) const {
    const std::uint32_t position = object_of(process, id);
    if (position == none) return -1;
    if (model_.node_flags_[position]) return position;
    const graph_object& port = model_.objects_[position];
    return port.port_of >= 0 ? port.port_of : -2;
}

void run_model_builder::resolve_edges() {
    // Vertices are numbered as met, in the order of the files.
    vertex_links links;
    links.objects = model_.objects_.size();
    std::vector<number_list> vertex_of_id(model_.ids_.size());
    auto vertex = [&](std::size_t process, std::uint32_t id) -> std::uint32_t {
        number_list& numbers = vertex_of_id[process];
        if (numbers.empty()) numbers.assign(model_.ids_[process].size(), none);
        if (numbers[id] == none) numbers[id] = static_cast<std::uint32_t>(links.vertices++);
        return numbers[id];
    };
    std::size_t relations = 0;
    for (file_records& file : files_) {
        const std::size_t p = file.process;
        relations += file.predecessors.size();
        file.predecessors.for_each([&](const predecessor& r) {
            const long from = edge_end(p, r.head);
            const long to = edge_end(p, r.tail);
            if (from == -2 || to == -2) return;
            const auto from_node = static_cast<std::uint32_t>(from);
            const auto to_node = static_cast<std::uint32_t>(to);
            if (from >= 0 && to >= 0)
                links.direct.push_back({from_node, to_node});
            else if (from >= 0)
                links.into_vertex.push_back({from_node, vertex(p, r.tail)});
            else if (to >= 0)
                links.out_of_vertex.push_back({vertex(p, r.head), to_node});
            else
                links.between_vertices.push_back({vertex(p, r.head), vertex(p, r.tail)});
        });
        file.predecessors = chunked_vector<predecessor>();
    }
    vertex_of_id = std::vector<number_list>();
    model_.vertices_ = links.vertices;
    expanded_edges expanded = expand_edges(links, expansion_limits::for_relations(relations));
    model_.edges_ = std::move(expanded.edges);
    model_.edges_complete_ = expanded.complete;
    model_.graph_with_vertices_ = std::move(expanded.graph_with_vertices);
}

// The metadata of each identifier together, in the order read: counts, then
// places, file by file.
void run_model_builder::index_metadata() {
    const std::size_t processes = model_.ids_.size();
    metadata_begin_.resize(processes);
    metadata_order_.resize(processes);
    for (std::size_t p = 0; p < processes; ++p) metadata_begin_[p].assign(model_.ids_[p].size() + 1, 0);
    for (const file_records& file : files_) {
        number_list& begin = metadata_begin_[file.process];
        file.metadata.for_each([&](const metadata_value& value) { ++begin[value.id + 1]; });
    }
    std::vector<number_list> next(processes);
    for (std::size_t p = 0; p < processes; ++p) {
        number_list& begin = metadata_begin_[p];
        for (std::size_t i = 1; i < begin.size(); ++i) begin[i] += begin[i - 1];
        metadata_order_[p].resize(begin.back());
        next[p].assign(begin.begin(), begin.end() - 1);
    }
    for (const file_records& file : files_) {
        number_list& places = next[file.process];
        auto& order = metadata_order_[file.process];
        file.metadata.for_each([&](const metadata_value& value) { order[places[value.id]++] = &value; });
    }
}

run_model_builder::key_meaning run_model_builder::meaning_of(std::size_t process, std::uint64_t key) {
    auto [at, added] = key_meanings_[process].emplace(key, key_meaning{});
    if (added) {
        const std::string name = model_.names_[process].handle_name(key);
        at->second = {ends_with(name, "name"), name == "code_address"};
    }
    return at->second;
}

// Fills what the object still lacks from the metadata of one identifier;
// true once it has both a label and a code address.
bool run_model_builder::apply_metadata(graph_object& object, std::uint32_t id) {
    const metadata_value* label = nullptr;
    bool label_is_a_name = false;
    if (id != none) {
        const number_list& begin = metadata_begin_[object.process];
        const auto& order = metadata_order_[object.process];
        for (std::uint32_t at = begin[id]; at < begin[id + 1]; ++at) {
            const metadata_value& value = *order[at];
            const key_meaning key = meaning_of(object.process, value.key);
            if (value.is_text && (label == nullptr || (!label_is_a_name && key.is_a_name))) {
                label = &value;
                label_is_a_name = key.is_a_name;
            }
            if (!value.is_text && key.is_code_address && !object.has_code_address) {
                object.has_code_address = true;
                object.code_address = value.value;
            }
        }
    }
    if (label != nullptr && object.label.empty()) object.label = texts_.substr(label->value, label->text_size);
    return !object.label.empty() && object.has_code_address;
}

void run_model_builder::resolve_labels() {
    for (std::size_t i = 0; i < model_.objects_.size(); ++i) {
        graph_object& object = model_.objects_[i];
        const object_source& source = sources_[i];
        if (apply_metadata(object, source.id) || !object.is_node()) continue;
        // What was said of the identifiers that run as the node counts for
        // the node: OpenMP puts a task's code address on {T, 0, 0}.
        if (object.id.d2 == 1 && object.id.d3 == 0 && model_.is_openmp_domain(object.process, object.domain) &&
            apply_metadata(object, model_.ids_[object.process].find(trace_id{object.id.d1, 0, 0})))
            continue;
        if (first_body_[i] != none) apply_metadata(object, first_body_[i]);
    }
    metadata_begin_ = std::vector<number_list>();
    metadata_order_ = decltype(metadata_order_)();
    for (file_records& file : files_) file.metadata = chunked_vector<metadata_value>();
}

void run_model_builder::collect_conflicts() {
    std::sort(other_kinds_.begin(), other_kinds_.end(),
              [](const other_kind& a, const other_kind& b) { return a.object < b.object; });
    for (const other_kind& differs : other_kinds_) {
        const graph_object& object = model_.objects_[differs.object];
        const std::string& other = kind_name(object.process, differs.kind);
        if (other == object.kind) continue;
        ++model_.conflict_count_;
        if (model_.conflicts_.size() < listed_conflicts)
            model_.conflicts_.push_back({object.process, object.id, object.kind, other});
    }
}

}  // namespace mvt_trace
