#include "analysis/run_comparison.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "analysis/run_analysis.h"
#include "common/saturating.h"

namespace mvt_trace {

std::vector<duration_group> gather_groups(const run_analysis& run) {
    const trace_model& model = run.model;
    const std::vector<run_labels::construct>& constructs = run.labels.constructs();
    std::vector<duration_group> groups(constructs.size());
    for (std::size_t c = 0; c < constructs.size(); ++c) {
        groups[c].label = constructs[c].label;
        if (constructs[c].location) groups[c].location = *constructs[c].location;
    }
    std::map<std::string, std::vector<std::uint64_t>> named;
    for (const trace_model::execution& e : model.executions()) {
        // An execution still open at the end has no duration to compare.
        if (e.open_at_end) continue;
        if (e.role == trace_model::execution_role::task && e.node != no_index) {
            const std::uint32_t c = run.labels.construct_of(e.node);
            if (c != no_index) groups[c].durations.push_back(e.busy);
        } else if (e.role == trace_model::execution_role::task_without_node) {
            named[std::string(model.text(e.name))].push_back(e.busy);
        }
    }
    for (auto& [name, durations] : named)
        groups.push_back({group_kind::unattached, name, std::nullopt, std::move(durations)});
    return groups;
}

duration_summary summarize(std::vector<std::uint64_t> durations) {
    duration_summary s;
    s.executions = durations.size();
    if (durations.empty()) return s;
    std::sort(durations.begin(), durations.end());
    wide_total total;
    for (std::uint64_t d : durations) total.add(d);
    s.total = total.saturated();
    s.mean = total.mean(s.executions);
    // Nearest rank, as analyze gives them: the smallest value with at least
    // that share of the executions at or below it.
    auto rank = [&](std::uint64_t percent) {
        const std::uint64_t r = (percent * s.executions + 99) / 100;
        return durations[std::max<std::uint64_t>(r, 1) - 1];
    };
    s.p50 = rank(50);
    s.p95 = rank(95);
    return s;
}

std::optional<double> relative_change(double base, double fresh) {
    if (!(base > 0)) return std::nullopt;
    return (fresh - base) / base;
}

std::size_t run_comparison::regressions() const {
    return static_cast<std::size_t>(
        std::count_if(groups.begin(), groups.end(), [](const group_change& g) { return g.regressed; }));
}

run_measures measures_of(const run_analysis& run) {
    run_measures m;
    m.wall = run.model.wall();
    m.work = run.dependencies.work;
    m.span = run.dependencies.span;
    m.parallelism = run.dependencies.parallelism;
    m.concurrency = run.concurrency.average;
    m.task_concurrency = run.task_concurrency.average;
    return m;
}

namespace {

measure_change measure(double base, double fresh) { return {base, fresh, relative_change(base, fresh)}; }

duration_change measure(std::uint64_t base, std::uint64_t fresh) {
    return {base, fresh, relative_change(static_cast<double>(base), static_cast<double>(fresh))};
}

double as_double(std::uint64_t value) { return static_cast<double>(value); }

}  // namespace

run_comparison compare_groups(const std::vector<duration_group>& base, const std::vector<duration_group>& fresh,
                              const run_measures& base_run, const run_measures& fresh_run,
                              const comparison_options& options) {
    run_comparison result;
    result.options = options;
    using key = std::pair<group_kind, std::string>;
    std::map<key, const duration_group*> in_base;
    for (const duration_group& g : base) in_base.emplace(key{g.kind, g.label}, &g);
    std::set<key> matched;
    for (const duration_group& g : fresh) {
        auto found = in_base.find({g.kind, g.label});
        if (found == in_base.end()) {
            result.added.push_back({g.kind, g.label, g.location, summarize(g.durations)});
            continue;
        }
        matched.insert(found->first);
        const duration_group& b = *found->second;
        group_change row;
        row.kind = g.kind;
        row.label = g.label;
        row.location = g.location ? g.location : b.location;
        row.base = summarize(b.durations);
        row.fresh = summarize(g.durations);
        row.change = relative_change(as_double(row.base.mean), as_double(row.fresh.mean));
        row.median_change = relative_change(as_double(row.base.p50), as_double(row.fresh.p50));
        row.test = mann_whitney(b.durations, g.durations, options.alpha);
        // The rank test alone would flag too much: with thousands of
        // executions it finds significant the shift of a percent that a
        // loaded machine makes from one run to the next, hence a threshold.
        // Not on the mean, though: a few executions delayed by preemption
        // lift it past any threshold, in either run, and so hide a real
        // slowdown as easily as they fake one. The median shrugs them off,
        // and a slower piece of code moves it as much as the mean. The
        // ranks must also say slower, which two runs of a construct whose
        // executions come in two sizes may not while the median moves up.
        const bool slower = row.test.u * 2 > static_cast<double>(row.test.pairs);
        row.regressed = row.test.significant && slower && row.median_change && *row.median_change > options.threshold;
        result.groups.push_back(std::move(row));
    }
    for (const duration_group& g : base)
        if (!matched.count({g.kind, g.label}))
            result.removed.push_back({g.kind, g.label, g.location, summarize(g.durations)});

    std::stable_sort(result.groups.begin(), result.groups.end(), [](const group_change& a, const group_change& b) {
        return std::max(a.base.total, a.fresh.total) > std::max(b.base.total, b.fresh.total);
    });
    auto by_total = [](const lone_group& a, const lone_group& b) { return a.stats.total > b.stats.total; };
    std::stable_sort(result.added.begin(), result.added.end(), by_total);
    std::stable_sort(result.removed.begin(), result.removed.end(), by_total);

    result.wall = measure(base_run.wall, fresh_run.wall);
    result.work = measure(base_run.work, fresh_run.work);
    result.span = measure(base_run.span, fresh_run.span);
    result.parallelism = measure(base_run.parallelism, fresh_run.parallelism);
    result.concurrency = measure(base_run.concurrency, fresh_run.concurrency);
    result.task_concurrency = measure(base_run.task_concurrency, fresh_run.task_concurrency);
    return result;
}

run_digest digest_run(const run_analysis& run) {
    run_digest digest;
    digest.groups = gather_groups(run);
    digest.measures = measures_of(run);
    for (const trace_model::process& p : run.model.processes()) digest.directories.push_back(p.directory);
    return digest;
}

run_comparison compare_digests(const run_digest& base, const run_digest& fresh, const comparison_options& options) {
    run_comparison result = compare_groups(base.groups, fresh.groups, base.measures, fresh.measures, options);
    result.base_directories = base.directories;
    result.fresh_directories = fresh.directories;
    return result;
}

run_comparison compare_runs(const run_analysis& base, const run_analysis& fresh, const comparison_options& options) {
    return compare_digests(digest_run(base), digest_run(fresh), options);
}

}  // namespace mvt_trace
