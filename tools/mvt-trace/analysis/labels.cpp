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

}  // namespace

run_labels::run_labels(const trace_model& model,
                       const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>* places) {
    if (places) places_ = *places;
    for (auto& process : places_) std::sort(process.begin(), process.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto& objects = model.objects();
    object_labels_.assign(objects.size(), 0);
    object_locations_.assign(objects.size(), nullptr);
    construct_of_.assign(objects.size(), no_index);
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
        const std::uint32_t ordinal = ++ordinals[o.process][o.kind];
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
        if (o.label != no_index) {
            object_labels_[i] = text_number(std::string(model.text(o.label)));
            continue;
        }
        const std::string place = !o.has_code_address ? std::string()
                                  : object_locations_[i] ? object_locations_[i]->text
                                                         : hex_address(o.code_address);
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

std::string run_labels::of_execution(const trace_model& model, const trace_model::execution& e) const {
    if (e.node != no_index) return of_object(e.node);
    return std::string(model.text(e.name));
}

const code_location* run_labels::location_of(std::uint32_t object) const { return object_locations_[object]; }

}  // namespace mvt_trace
