#include "analysis/labels.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

bool is_task_node(const trace_model& model, std::uint32_t object) {
    const compressed_rows& of = model.executions_of();
    for (const std::uint32_t* e = of.row_begin(object); e != of.row_end(object); ++e)
        if (model.executions()[*e].role == trace_model::execution_role::task) return true;
    return false;
}

// Clang moves the body of every parallel region and task into a function of
// its own (".omp_outlined.", ".omp_task_entry."): names no one wrote, which
// start with a dot as no C or C++ name can.
bool is_outlined(const std::string& function) { return !function.empty() && function[0] == '.'; }

// The function the user wrote an OpenMP node's code in, when the compiler
// outlined it. The node's creator knows: a task node {T, 1, 0} is declared
// under the task that created it, {C, 0, 0}. A creator with dependences has a
// node of its own, {C, 1, 0}; an implicit task is a group declared under its
// region {R, 0, 0}, whose node {R, 1, 0} has the region's address, in the
// code around the region. Objects come in order of first declaration,
// creators first, so each node's answer is there for the nodes it created.
//
// Per object, an index into `names`, or no_index where the code's own name
// stands.
std::vector<std::uint32_t> user_functions(const trace_model& model, const std::vector<const code_location*>& locations,
                                          std::vector<std::string>& names) {
    const auto& objects = model.objects();
    std::vector<std::uint32_t> functions;
    const auto outlined = [&](std::uint32_t i) {
        return objects[i].openmp && locations[i] && locations[i]->known && is_outlined(locations[i]->function);
    };
    bool any = false;
    for (std::uint32_t i = 0; i < objects.size() && !any; ++i) any = outlined(i);
    if (!any) return functions;
    functions.assign(objects.size(), no_index);

    // OpenMP nodes and groups by identifier: 16 bytes each, searched.
    struct keyed {
        std::uint64_t d1;
        std::uint32_t process, object;
        bool operator<(const keyed& other) const {
            return process != other.process ? process < other.process : d1 < other.d1;
        }
    };
    std::vector<keyed> nodes, groups;
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        const trace_model::object& o = objects[i];
        if (!o.openmp || o.id.d3 != 0) continue;
        if (o.is_node() && o.id.d2 == 1) nodes.push_back({o.id.d1, o.process, i});
        else if (o.role == trace_model::object_role::group && o.id.d2 == 0) groups.push_back({o.id.d1, o.process, i});
    }
    std::sort(nodes.begin(), nodes.end());
    std::sort(groups.begin(), groups.end());
    const auto find = [](const std::vector<keyed>& in, std::uint32_t process, std::uint64_t d1) {
        const auto at = std::lower_bound(in.begin(), in.end(), keyed{d1, process, 0});
        return at != in.end() && at->process == process && at->d1 == d1 ? at->object : no_index;
    };
    const auto id_of_parent = [&](const trace_model::object& o) { return model.processes()[o.process].ids.id(o.parent_id); };

    std::unordered_map<std::string, std::uint32_t> numbers;
    const auto name_number = [&](const std::string& name) {
        auto [at, added] = numbers.emplace(name, static_cast<std::uint32_t>(names.size()));
        if (added) names.push_back(name);
        return at->second;
    };
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        const trace_model::object& o = objects[i];
        if (!o.openmp || !o.is_node() || !locations[i] || !locations[i]->known) continue;
        if (!is_outlined(locations[i]->function)) {
            functions[i] = name_number(locations[i]->function);
            continue;
        }
        const trace_id creator = id_of_parent(o);
        std::uint32_t around = find(nodes, o.process, creator.d1);
        if (around == no_index) {
            const std::uint32_t group = find(groups, o.process, creator.d1);
            if (group != no_index) around = find(nodes, o.process, id_of_parent(objects[group]).d1);
        }
        if (around < i) functions[i] = functions[around];
    }
    return functions;
}

}  // namespace

run_labels::run_labels(const trace_model& model,
                       const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>* places) {
    if (places) places_ = *places;
    for (auto& process : places_) std::sort(process.begin(), process.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto& objects = model.objects();
    object_labels_.assign(objects.size(), 0);
    object_locations_.assign(objects.size(), nullptr);
    construct_of_.assign(objects.size(), no_index);
    std::vector<std::uint32_t> ordinals_of(objects.size(), 0);
    // Ordinals of kinds, per process, in declaration order; a kind with one
    // node needs none.
    std::vector<std::unordered_map<std::uint32_t, std::uint32_t>> ordinals(model.processes().size()), of_kind(model.processes().size());
    for (const trace_model::object& o : objects)
        if (o.is_node()) ++of_kind[o.process][o.kind];
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        const trace_model::object& o = objects[i];
        if (!o.is_node()) {
            object_labels_[i] = text_number(std::string(model.name_of(o)));
            continue;
        }
        ordinals_of[i] = ++ordinals[o.process][o.kind];
        if (o.has_code_address) {
            const code_location* found = nullptr;
            if (o.process < places_.size()) {
                const auto& process = places_[o.process];
                auto at = std::lower_bound(process.begin(), process.end(), o.code_address,
                                           [](const auto& entry, std::uint64_t a) { return entry.first < a; });
                if (at != process.end() && at->first == o.code_address) found = &at->second;
            }
            object_locations_[i] = found;
        }
    }
    std::vector<std::string> function_names;
    const std::vector<std::uint32_t> functions = user_functions(model, object_locations_, function_names);
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        const trace_model::object& o = objects[i];
        if (!o.is_node()) continue;
        const std::uint32_t ordinal = ordinals_of[i];
        if (o.label != no_index) {
            object_labels_[i] = text_number(std::string(model.text(o.label)));
            continue;
        }
        const code_location* location = object_locations_[i];
        std::string place;
        if (location && !functions.empty() && functions[i] != no_index && function_names[functions[i]] != location->function)
            place = function_names[functions[i]] + " (" + std::string(base_name(location->file)) + ":" +
                    std::to_string(location->line) + ")";
        else if (location)
            place = location->text;
        else if (o.has_code_address)
            place = hex_address(o.code_address);
        const std::string_view kind = model.kind_of(o);
        if (o.openmp && kind == "composite_node")
            object_labels_[i] = text_number(place.empty() ? "parallel region" : "parallel region at " + place);
        else if (!place.empty())
            object_labels_[i] = text_number(place);
        else if (of_kind[o.process][o.kind] > 1)
            object_labels_[i] = text_number(std::string(kind) + " " + std::to_string(ordinal));
        else
            object_labels_[i] = text_number(std::string(kind));
    }
    // Constructs in order of their first node.
    std::unordered_map<std::uint32_t, std::uint32_t> by_label;  // label -> construct
    for (std::uint32_t i = 0; i < objects.size(); ++i) {
        if (!objects[i].is_node() || !is_task_node(model, i)) continue;
        // A flow-graph node with no name of its own is its own construct;
        // nodes that share a source place or a name are one, in every
        // process of the run.
        auto [at, added] = by_label.emplace(object_labels_[i], static_cast<std::uint32_t>(constructs_.size()));
        if (added) constructs_.push_back({texts_[object_labels_[i]], object_locations_[i], {}});
        constructs_[at->second].nodes.push_back(i);
        construct_of_[i] = at->second;
    }
}

std::uint32_t run_labels::text_number(std::string text) {
    auto [at, added] = text_numbers_.emplace(std::move(text), static_cast<std::uint32_t>(texts_.size()));
    if (added) texts_.push_back(at->first);
    return at->second;
}

std::string_view run_labels::of_execution(const trace_model& model, const trace_model::execution& e) const {
    if (e.node != no_index) return of_object(e.node);
    return model.text(e.name);
}

const code_location* run_labels::location_of(std::uint32_t object) const { return object_locations_[object]; }

}  // namespace mvt_trace
