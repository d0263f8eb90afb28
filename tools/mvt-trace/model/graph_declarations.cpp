// The graph a run declared: objects from the task_group records, the node
// each execution belongs to, and the names and code addresses metadata
// gives them.

#include <algorithm>

#include "common/text_format.h"
#include "model/model_builder.h"

namespace mvt_trace {

namespace {

using object = trace_model::object;
using object_role = trace_model::object_role;

// Records of several files of one process in the order they were made:
// by time, and by file and place in the file where times are equal, so that
// the order does not depend on anything but the files.
template <typename Entry, typename Placed>
void sort_in_time(std::vector<Placed>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const Placed& a, const Placed& b) {
        if (a.entry->timestamp != b.entry->timestamp) return a.entry->timestamp < b.entry->timestamp;
        if (a.file != b.file) return a.file < b.file;
        return a.entry->order < b.entry->order;
    });
}

object_role role_of(std::string_view kind, bool openmp) {
    if (starts_with(kind, "input_port") || starts_with(kind, "output_port")) return object_role::port;
    // OpenMP declares a task group for each parallel region and implicit
    // task under the identifier they run as: names of executions, not nodes.
    if (openmp && (kind == "omp_parallel" || kind == "omp_implicit")) return object_role::group;
    return object_role::node;
}

}  // namespace

// Objects in order of first declaration, process by process. A group
// declared again keeps the parent it was first declared under and takes
// the last kind: a runtime declares a node under its base kind and then
// again under the kind derived from it.
void model_builder::collect_objects() {
    trace_model::object_list& objects = model_.objects_;
    for (std::uint32_t p = 0; p < states_.size(); ++p) {
        process_state& state = states_[p];
        trace_model::process& process = model_.processes_[p];
        placed_list<file_log::declaration> declarations;
        for (std::size_t f : state.files)
            logs_[f]->declarations.for_each([&](const file_log::declaration& d) {
                declarations.push_back({&d, static_cast<std::uint32_t>(f)});
            });
        sort_in_time<file_log::declaration>(declarations);
        state.object_of_id.assign(process.ids.size(), no_index);
        for (const auto& [d, f] : declarations) {
            const std::uint32_t id = id_number(f, d->id);
            const std::uint64_t domain = address(f, d->domain);
            const bool openmp = process.is_openmp_domain(domain);
            const std::uint32_t kind = handle_string(p, address(f, d->kind));
            std::uint32_t& position = state.object_of_id[id];
            if (position == no_index) {
                position = static_cast<std::uint32_t>(objects.size());
                object o;
                o.id = process.ids.id(id);
                o.domain = domain;
                o.process = p;
                o.kind = kind;
                o.openmp = openmp;
                o.role = role_of(model_.text(kind), openmp);
                o.declared = d->timestamp;
                o.declared_thread = f;
                objects.push_back(o);
                sources_.push_back({id, id_number(f, d->parent), d->timestamp, f, d->order});
                continue;
            }
            object& known = objects[position];
            if (known.kind == kind) continue;
            if (role_of(model_.text(kind), known.openmp) == known.role) {
                known.kind = kind;
            } else if (role_conflicts_++ == 0) {
                first_role_conflict_ = directories_[p] + ": identifier " + full_id_text(known.id) +
                                       " declared as \"" + std::string(model_.text(known.kind)) + "\" and as \"" +
                                       std::string(model_.text(kind)) + "\"";
            }
        }
    }
    // Parents, ports and children, now that every declaration is known.
    index_pairs children;
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        object& o = objects[i];
        const object_source& source = sources_[i];
        const trace_model::process& process = model_.processes_[o.process];
        o.parent_id = source.parent;
        if (process.ids.id(source.parent).is_null()) continue;
        const std::uint32_t parent = states_[o.process].object_of_id[source.parent];
        if (parent == no_index || parent == i) continue;
        o.parent = parent;
        children.push_back({parent, i});
        if (o.role == object_role::port && objects[parent].is_node()) o.port_of = parent;
    }
    model_.children_ = compressed_rows(objects.size(), children);
}

// Rule 3 of the node an execution belongs to: the first relation that
// declares its identifier the body of a node.
void model_builder::attach_executions() {
    relations_.resize(states_.size());
    for (std::uint32_t p = 0; p < states_.size(); ++p) {
        process_state& state = states_[p];
        placed_list<file_log::relation_entry>& relations = relations_[p];
        for (std::size_t f : state.files)
            logs_[f]->relations.for_each([&](const file_log::relation_entry& r) {
                relations.push_back({&r, static_cast<std::uint32_t>(f)});
            });
        sort_in_time<file_log::relation_entry>(relations);
        state.body_of_id.assign(model_.processes_[p].ids.size(), no_index);
        for (const auto& [r, f] : relations) {
            if (r->code != relation_is_child_of && r->code != relation_is_parent_of) continue;
            const bool child_of = r->code == relation_is_child_of;
            const std::uint32_t body = id_number(f, child_of ? r->head : r->tail);
            const std::uint32_t node = state.object_of_id[id_number(f, child_of ? r->tail : r->head)];
            if (node == no_index || !model_.objects_[node].is_node() || state.body_of_id[body] != no_index) continue;
            state.body_of_id[body] = node;
            object& o = model_.objects_[node];
            if (o.first_body == no_index && node_for(p, body, false) == node) o.first_body = body;
        }
    }
}

std::uint32_t model_builder::node_for(std::uint32_t p, std::uint32_t id, bool openmp) const {
    const process_state& state = states_[p];
    const trace_model::process& process = model_.processes_[p];
    const std::uint32_t declared = state.object_of_id[id];
    if (declared != no_index) {
        const object& o = model_.objects_[declared];
        if (o.is_node()) return declared;
        if (o.port_of != no_index) return o.port_of;
    }
    if (openmp) {
        const trace_id& own = process.ids.id(id);
        if (own.d2 == 0 && own.d3 == 0) {
            const std::uint32_t task_node = process.ids.find(trace_id{own.d1, 1, 0});
            if (task_node != id_table::none && task_node < state.object_of_id.size()) {
                const std::uint32_t node = state.object_of_id[task_node];
                if (node != no_index && model_.objects_[node].is_node()) return node;
            }
        }
    }
    return state.body_of_id[id];
}

// A string metadata on an object's identifier labels it (one whose key's
// name ends in "name" first), and an unsigned one keyed "code_address" is
// where its code is. What was said of the identifiers that run as a node
// counts for the node: OpenMP puts a task's code address on {T, 0, 0}.
void model_builder::label_objects() {
    // Per process, the metadata of each identifier together, in the order
    // of the files.
    struct metadata_index {
        number_list begin;
        std::vector<placed<file_log::metadata_entry>> order;
        std::unordered_map<std::uint64_t, std::pair<bool, bool>> key_meanings;  // is a name, is the code address
    };
    std::vector<metadata_index> indexes(states_.size());
    for (std::uint32_t p = 0; p < states_.size(); ++p) {
        metadata_index& index = indexes[p];
        index.begin.assign(model_.processes_[p].ids.size() + 1, 0);
        for (std::size_t f : states_[p].files)
            logs_[f]->metadata.for_each([&](const file_log::metadata_entry& m) { ++index.begin[id_number(f, m.id) + 1]; });
        for (std::size_t i = 1; i < index.begin.size(); ++i) index.begin[i] += index.begin[i - 1];
        index.order.resize(index.begin.back());
        number_list next(index.begin.begin(), index.begin.end() - 1);
        for (std::size_t f : states_[p].files)
            logs_[f]->metadata.for_each([&](const file_log::metadata_entry& m) {
                index.order[next[id_number(f, m.id)]++] = {&m, static_cast<std::uint32_t>(f)};
            });
    }
    auto apply = [&](object& o, std::uint32_t id) {
        metadata_index& index = indexes[o.process];
        const trace_model::process& process = model_.processes_[o.process];
        if (id == id_table::none || id + 1 >= index.begin.size()) return;
        const placed<file_log::metadata_entry>* label = nullptr;
        bool label_is_a_name = false;
        for (std::uint32_t at = index.begin[id]; at < index.begin[id + 1]; ++at) {
            const file_log::metadata_entry& m = *index.order[at].entry;
            auto [meaning, added] = index.key_meanings.emplace(address(index.order[at].file, m.key), std::pair<bool, bool>{});
            if (added) {
                const std::string name = process.names.handle_name(meaning->first);
                meaning->second = {ends_with(name, "name"), name == "code_address"};
            }
            const auto [is_a_name, is_code_address] = meaning->second;
            if (m.is_text && (label == nullptr || (!label_is_a_name && is_a_name))) {
                label = &index.order[at];
                label_is_a_name = is_a_name;
            }
            if (!m.is_text && is_code_address && !o.has_code_address) {
                o.has_code_address = true;
                o.code_address = m.value;
            }
        }
        if (label != nullptr && o.label == no_index)
            o.label = model_.strings_.intern(
                std::string_view(logs_[label->file]->texts).substr(label->entry->value, label->entry->text_size));
    };
    // The model keeps every identifier's metadata, for the details of what
    // carries it.
    for (std::uint32_t p = 0; p < states_.size(); ++p) {
        metadata_index& index = indexes[p];
        trace_model::process& process = model_.processes_[p];
        process.metadata_begin.assign(index.begin.begin(), index.begin.end());
        process.metadata.reserve(index.order.size());
        for (const placed<file_log::metadata_entry>& m : index.order) {
            trace_model::metadata_value value;
            value.key = handle_string(p, address(m.file, m.entry->key));
            value.is_text = m.entry->is_text;
            if (value.is_text)
                value.text = model_.strings_.intern(
                    std::string_view(logs_[m.file]->texts).substr(m.entry->value, m.entry->text_size));
            else
                value.number = m.entry->value;
            process.metadata.push_back(value);
        }
    }
    for (std::uint32_t i = 0; i < model_.objects_.size(); ++i) {
        object& o = model_.objects_[i];
        apply(o, sources_[i].id);
        if (!o.is_node()) continue;
        if (o.is_openmp_task_node())
            apply(o, model_.processes_[o.process].ids.find(trace_id{o.id.d1, 0, 0}));
        if (o.first_body != no_index) apply(o, o.first_body);
    }
}

}  // namespace mvt_trace
