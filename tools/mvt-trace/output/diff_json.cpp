#include "output/diff_json.h"

#include <cstdio>
#include <cstdlib>

#include "common/json_text.h"
#include "output/analyze_json.h"

namespace mvt_trace {

namespace {

using json = nlohmann::ordered_json;

// Ratios to three decimals, as analyze gives them.
// p-values span many orders of magnitude: four significant digits keep
// 3.2e-12 and 0.4817 both readable.
double significant_digits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return std::strtod(text, nullptr);
}

json optional_ratio(const std::optional<double>& value) { return value ? json(rounded(*value)) : json(nullptr); }

const char* group_name(group_kind kind) { return kind == group_kind::construct ? "construct" : "unattached"; }

const char* method_name(rank_test::method how) {
    switch (how) {
    case rank_test::method::exact: return "exact";
    case rank_test::method::normal: return "normal";
    case rank_test::method::too_few: break;
    }
    return "too_few";
}

json location_or_null(const std::optional<code_location>& place) {
    return place && place->known ? location_json(*place) : json(nullptr);
}

void add_summary(json& row, const duration_summary& s) {
    row["executions"] = s.executions;
    row["total_ns"] = s.total;
    row["mean_ns"] = s.mean;
    row["p50_ns"] = s.p50;
    row["p95_ns"] = s.p95;
}

json summary_json(const duration_summary& s) {
    json row = json::object();
    add_summary(row, s);
    return row;
}

json group_json(const group_change& g) {
    const bool verdict = g.test.how != rank_test::method::too_few;
    json row;
    row["label"] = g.label;
    row["group"] = group_name(g.kind);
    row["location"] = location_or_null(g.location);
    row["base"] = summary_json(g.base);
    row["new"] = summary_json(g.fresh);
    row["change"] = optional_ratio(g.change);
    row["median_change"] = optional_ratio(g.median_change);
    row["test"] = method_name(g.test.how);
    row["p_value"] = verdict ? json(significant_digits(g.test.p_value)) : json(nullptr);
    row["slower_share"] = g.test.pairs ? json(rounded(g.test.second_slower_share())) : json(nullptr);
    row["significant"] = verdict ? json(g.test.significant) : json(nullptr);
    row["regressed"] = g.regressed;
    return row;
}

json lone_json(const lone_group& g) {
    json row;
    row["label"] = g.label;
    row["group"] = group_name(g.kind);
    row["location"] = location_or_null(g.location);
    add_summary(row, g.stats);
    return row;
}

json nanoseconds_json(const duration_change& m) {
    return {{"base", m.base}, {"new", m.fresh}, {"change", optional_ratio(m.change)}};
}

json ratio_json(const measure_change& m) {
    return {{"base", rounded(m.base)}, {"new", rounded(m.fresh)}, {"change", optional_ratio(m.change)}};
}

}  // namespace

json comparison_json(const run_comparison& c) {
    json root;
    root["threshold"] = c.options.threshold;
    root["alpha"] = c.options.alpha;
    root["runs"] = {{"base", {{"directories", c.base_directories}}}, {"new", {{"directories", c.fresh_directories}}}};
    root["regressions"] = c.regressions();
    json groups = json::array();
    for (const group_change& g : c.groups) groups.push_back(group_json(g));
    root["constructs"] = std::move(groups);
    root["run"] = {{"wall_ns", nanoseconds_json(c.wall)},
                   {"work_ns", nanoseconds_json(c.work)},
                   {"span_ns", nanoseconds_json(c.span)},
                   {"parallelism", ratio_json(c.parallelism)},
                   {"concurrency", ratio_json(c.concurrency)},
                   {"task_concurrency", ratio_json(c.task_concurrency)}};
    json added = json::array(), removed = json::array();
    for (const lone_group& g : c.added) added.push_back(lone_json(g));
    for (const lone_group& g : c.removed) removed.push_back(lone_json(g));
    root["added"] = std::move(added);
    root["removed"] = std::move(removed);
    return root;
}

std::string comparison_json_text(const run_comparison& comparison) { return compact_text(comparison_json(comparison)); }

void write_comparison_json(const run_comparison& comparison, std::ostream& out) {
    const json root = comparison_json(comparison);
    out << "{";
    bool first = true;
    for (const auto& [name, value] : root.items()) {
        out << (first ? "\n " : ",\n ") << json_quoted(name) << ": ";
        first = false;
        if (!value.is_array() || value.empty()) {
            out << compact_text(value);
            continue;
        }
        out << "[";
        for (std::size_t i = 0; i < value.size(); ++i) out << (i == 0 ? "\n  " : ",\n  ") << compact_text(value[i]);
        out << "\n ]";
    }
    out << "\n}\n";
}

}  // namespace mvt_trace
