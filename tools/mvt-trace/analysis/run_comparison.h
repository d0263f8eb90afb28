#ifndef MVT_TRACE_ANALYSIS_RUN_COMPARISON_H
#define MVT_TRACE_ANALYSIS_RUN_COMPARISON_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/labels.h"
#include "analysis/rank_test.h"

namespace mvt_trace {

struct run_analysis;

// What is compared between runs: the executions of one construct (the task
// nodes of one piece of code, or one named flow-graph node), or the
// program's tasks of no node that share a name (OpenMP's tasks without
// dependences are all "omp_explicit": OpenMP gives them no code address, so
// the name is all that ties them across runs).
enum class group_kind : std::uint8_t { construct, unattached };

// A group's executions in one run: every duration, since the rank test
// needs them all.
struct duration_group {
    group_kind kind = group_kind::construct;
    std::string label;
    std::optional<code_location> location;  // when the label is a source place
    std::vector<std::uint64_t> durations;
};

// The groups of a run, constructs first (in the order of their first node),
// then the unattached names in the order of the text. Labels are unique
// within a kind: run_labels merges the nodes of one label in every process
// into one construct, and names are merged across processes the same way.
std::vector<duration_group> gather_groups(const run_analysis& run);

// count, total, mean and nearest-rank percentiles, exact.
struct duration_summary {
    std::uint64_t executions = 0;
    std::uint64_t total = 0;  // held at 2^64 - 1
    std::uint64_t mean = 0;
    std::uint64_t p50 = 0;
    std::uint64_t p95 = 0;
};

duration_summary summarize(std::vector<std::uint64_t> durations);

// A group present in both runs.
struct group_change {
    group_kind kind = group_kind::construct;
    std::string label;
    std::optional<code_location> location;
    duration_summary base, fresh;
    // (new mean - base mean) / base mean: +1.0 is twice as long; none when
    // the base mean is 0.
    std::optional<double> change;
    // The same of the median.
    std::optional<double> median_change;
    rank_test test;  // of the new durations against the base's
    // Significant, slower by the ranks, and the median up by more than the
    // threshold: see compare_groups.
    bool regressed = false;
};

// A group in one run only.
struct lone_group {
    group_kind kind = group_kind::construct;
    std::string label;
    std::optional<code_location> location;
    duration_summary stats;
};

// One measure of the whole run, before and after; the change is relative,
// none when base is 0.
struct measure_change {
    double base = 0;
    double fresh = 0;
    std::optional<double> change;
};

// Durations stay whole nanoseconds.
struct duration_change {
    std::uint64_t base = 0;
    std::uint64_t fresh = 0;
    std::optional<double> change;
};

struct run_measures {
    std::uint64_t wall = 0;
    std::uint64_t work = 0;
    std::uint64_t span = 0;
    double parallelism = 0;
    double concurrency = 0;       // threads busy at once with anything, on average
    double task_concurrency = 0;  // ... with the program's tasks
};

run_measures measures_of(const run_analysis& run);

struct comparison_options {
    // A group regresses only when its median grows by more than this share
    // (0.10 is 10 %).
    double threshold = 0.10;
    double alpha = 0.01;  // the rank test's level, two-sided
};

struct run_comparison {
    comparison_options options;
    // The process directories of each run, in process order.
    std::vector<std::string> base_directories, fresh_directories;
    // By the larger of the two totals, largest first.
    std::vector<group_change> groups;
    std::vector<lone_group> added, removed;
    duration_change wall, work, span;
    measure_change parallelism, concurrency, task_concurrency;

    std::size_t regressions() const;
};

// (fresh - base) / base, none when base is 0.
std::optional<double> relative_change(double base, double fresh);

// Matches groups by kind and label, never by identifier or address, which
// move from run to run, and compares each pair.
run_comparison compare_groups(const std::vector<duration_group>& base, const std::vector<duration_group>& fresh,
                              const run_measures& base_run, const run_measures& fresh_run,
                              const comparison_options& options = {});

// What a comparison needs of one run, which outlives the run's analysis: a
// command analyses one run, keeps this, and frees the analysis before it
// reads the other.
struct run_digest {
    std::vector<duration_group> groups;
    run_measures measures;
    std::vector<std::string> directories;  // of its processes
};

run_digest digest_run(const run_analysis& run);
run_comparison compare_digests(const run_digest& base, const run_digest& fresh, const comparison_options& options = {});
run_comparison compare_runs(const run_analysis& base, const run_analysis& fresh, const comparison_options& options = {});

}  // namespace mvt_trace

#endif
