// diff's pieces: the rank test on samples whose U and p-value were worked
// out apart (by enumerating every arrangement, and by the textbook formula
// for the normal approximation), and the matching of two hand-written runs
// whose identifiers, addresses and process order differ while their labels
// agree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "analysis/rank_test.h"
#include "analysis/run_analysis.h"
#include "analysis/run_comparison.h"
#include "files.h"
#include "trace_script.h"

namespace {

using namespace mvt_trace;
using samples = std::vector<std::uint64_t>;

// Samples of n values with few repeats, from a linear congruence.
samples spread(std::size_t n, std::uint64_t offset, std::uint64_t factor, std::uint64_t modulus) {
    samples values;
    for (std::uint64_t i = 0; i < n; ++i) values.push_back(offset + (i * factor) % modulus);
    return values;
}

TEST(tool_rank_test, small_samples_get_the_exact_p_value) {
    // One sample wholly above the other: 2 / C(10, 5).
    rank_test t = mann_whitney({1, 2, 3, 4, 5}, {6, 7, 8, 9, 10});
    EXPECT_EQ(t.how, rank_test::method::exact);
    EXPECT_EQ(t.u, 25);
    EXPECT_EQ(t.pairs, 25u);
    EXPECT_NEAR(t.p_value, 2.0 / 252, 1e-12);
    EXPECT_TRUE(t.significant);

    // Interleaved: U = 50 of 64, p = 0.0649572649... by enumeration.
    t = mann_whitney({12, 15, 19, 23, 31, 35, 40, 44}, {21, 27, 33, 38, 46, 50, 52, 60});
    EXPECT_EQ(t.how, rank_test::method::exact);
    EXPECT_EQ(t.u, 50);
    EXPECT_NEAR(t.p_value, 0.06495726495726496, 1e-12);
    EXPECT_FALSE(t.significant);
    EXPECT_NEAR(t.second_slower_share(), 50.0 / 64, 1e-12);

    // The order of the samples changes U to m n - U, never the p-value.
    const rank_test swapped = mann_whitney({21, 27, 33, 38, 46, 50, 52, 60}, {12, 15, 19, 23, 31, 35, 40, 44});
    EXPECT_EQ(swapped.u, 14);
    EXPECT_NEAR(swapped.p_value, t.p_value, 1e-12);

    // 40 and 40, counted exactly: p = 6.833835650151517e-05 by enumeration.
    t = mann_whitney(spread(40, 1000, 7919, 99991), spread(40, 30000, 104729, 99989));
    EXPECT_EQ(t.how, rank_test::method::exact);
    EXPECT_EQ(t.u, 1204);
    EXPECT_NEAR(t.p_value / 6.833835650151517e-05, 1, 1e-9);
    EXPECT_TRUE(t.significant);
}

TEST(tool_rank_test, ties_and_large_samples_take_the_normal_approximation) {
    // U = 90 of 100; groups of equal values of sizes 2, 2, 4, 4, 4, 2, 2:
    // z = (|90 - 50| - 0.5) / sqrt(100 / 12 x (21 - 228 / 380)).
    rank_test t = mann_whitney({1, 1, 2, 2, 3, 3, 3, 4, 4, 5}, {3, 4, 4, 5, 5, 5, 6, 6, 7, 7});
    EXPECT_EQ(t.how, rank_test::method::normal);
    EXPECT_EQ(t.u, 90);
    EXPECT_NEAR(t.p_value / 0.00248770512466929, 1, 1e-9);
    EXPECT_TRUE(t.significant);

    // 70 and 70 are too many to count: within 1 % of the exact
    // 0.1110928454805067 where it matters, near the level.
    t = mann_whitney(spread(70, 1000, 7919, 99991), spread(70, 9000, 104729, 99989));
    EXPECT_EQ(t.how, rank_test::method::normal);
    EXPECT_EQ(t.u, 2833);
    EXPECT_NEAR(t.p_value / 0.1110928454805067, 1, 0.01);

    // Every value the same says nothing.
    t = mann_whitney(samples(20, 7), samples(30, 7));
    EXPECT_EQ(t.p_value, 1);
    EXPECT_FALSE(t.significant);
}

TEST(tool_rank_test, too_few_executions_give_no_verdict) {
    // 2 / C(m + n, m) must be below 1 %: 4 and 4 cannot, 4 and 6 can.
    for (auto [m, n, enough] : std::vector<std::tuple<std::size_t, std::size_t, bool>>{
             {4, 4, false}, {4, 6, true}, {5, 5, true}, {3, 8, false}, {3, 9, true}, {2, 18, false}, {2, 19, true},
             {1, 199, false}, {1, 200, true}, {0, 50, false}}) {
        const samples first = spread(m, 0, 1, 1000), second = spread(n, 1000, 1, 1000);
        const rank_test t = mann_whitney(first, second);
        EXPECT_EQ(t.how != rank_test::method::too_few, enough) << m << " and " << n;
        // Wholly separated, the smallest p-value possible.
        EXPECT_EQ(t.significant, enough) << m << " and " << n;
    }
    const rank_test three = mann_whitney({1, 2, 3}, {4, 5, 6});
    EXPECT_EQ(three.how, rank_test::method::too_few);
    EXPECT_NEAR(three.p_value, 0.1, 1e-12);  // said, but not acted on
    EXPECT_NEAR(smallest_p_value(4, 6), 2.0 / 210, 1e-15);
}

TEST(tool_comparison, summaries_are_exact_nearest_ranks) {
    duration_summary s = summarize({50, 10, 40, 20, 30});
    EXPECT_EQ(s.executions, 5u);
    EXPECT_EQ(s.total, 150u);
    EXPECT_EQ(s.mean, 30u);
    EXPECT_EQ(s.p50, 30u);
    EXPECT_EQ(s.p95, 50u);
    s = summarize({20, 10});
    EXPECT_EQ(s.p50, 10u);  // the lower of two
    EXPECT_EQ(s.mean, 15u);
    EXPECT_EQ(summarize(spread(20, 1, 1, 100)).p95, 19u);  // rank 19 of 20
    EXPECT_EQ(summarize({}).p95, 0u);
}

// A run written as a script: one thread per process, executions one after
// another with 10 us between them.
class run_script {
public:
    void process() {
        if (!text_.empty()) text_ += "process\n";
        text_ += "thread 0\n";
        now_ = 0;
    }
    void line(const std::string& record) { text_ += "0 " + record + "\n"; }
    void run(const std::string& begin_fields, const std::string& domain, std::uint64_t micros) {
        text_ += std::to_string(now_) + "us task_begin " + begin_fields + "\n";
        now_ += micros;
        text_ += std::to_string(now_) + "us task_end " + domain + "\n";
        now_ += 10;
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::uint64_t now_ = 0;
};

// A flow graph: named nodes of kind "node", unnamed ones of kind
// "function_node" (called "function_node 1", "function_node 2"), each
// with the executions given (in us), under identifiers from `first_id`.
void flow_process(run_script& s, std::uint64_t first_id, const std::vector<std::pair<std::string, samples>>& nodes) {
    s.process();
    s.line("task_group flow 1 0 graph");
    std::uint64_t id = first_id;
    for (const auto& [name, micros] : nodes) {
        const std::string node = std::to_string(id++);
        s.line("task_group flow " + node + " 1 " + (name.empty() ? "function_node" : "node"));
        if (!name.empty()) s.line("metadata_stringA flow " + node + " node_name 1 " + name);
        for (std::uint64_t m : micros) s.run("flow " + node + " 0 body", "flow", m);
    }
}

// OpenMP tasks with dependences whose code is at `address`, and as many
// tasks without dependences.
void openmp_tasks(run_script& s, std::uint64_t first_task, std::uint64_t address, const samples& micros) {
    s.line("task_group openmp 7 0 omp_implicit");
    for (std::size_t i = 0; i < micros.size(); ++i) {
        const std::string t = std::to_string(first_task + i);
        s.line("task_group openmp " + t + ".1 7 node");
        s.line("metadata openmp " + t + " code_address 1 1 " + std::to_string(address));
        s.run("openmp " + t + " 0 omp_explicit", "openmp", micros[i]);
        s.run("openmp " + std::to_string(first_task + i + 5000) + " 0 omp_explicit", "openmp", 300);
    }
}

run_analysis analyzed(const std::string& script, const mvt_test::temp_dir& dir, const std::string& name,
                      const std::vector<std::vector<std::pair<std::uint64_t, code_location>>>& places) {
    EXPECT_EQ(::mkdir((dir / name).c_str(), 0755), 0);
    const std::vector<std::string> directories = mvt_tool_test::write_trace_script(script, dir / name);
    run_layout layout;
    std::string error;
    EXPECT_TRUE(read_run_layout(directories, layout, error)) << error;
    return analyze_model(read_model(layout), &places);
}

TEST(tool_comparison, runs_are_matched_by_label_across_processes_never_by_address) {
    code_location sweep;
    sweep.known = true;
    sweep.function = "sweep";
    sweep.file = "jacobi.c";
    sweep.line = 57;
    sweep.text = "sweep (jacobi.c:57)";
    const samples ten_1ms = spread(10, 1000, 10, 100), ten_2ms = spread(10, 2000, 10, 100);

    // Base: the flow graph in the first process, OpenMP in the second,
    // where the sweep's tasks are at 0x1000 and another task's at 0x3000.
    const samples stage_here = spread(6, 2000, 17, 100), stage_there = spread(6, 2050, 17, 100);
    samples stage_all = stage_here;
    stage_all.insert(stage_all.end(), stage_there.begin(), stage_there.end());
    run_script base;
    flow_process(base, 10, {{"stage", stage_here}, {"", ten_1ms}, {"", {1000, 1000, 1000}}, {"gone", {500}}});
    base.process();
    openmp_tasks(base, 100, 0x1000, samples(8, 4000));
    openmp_tasks(base, 200, 0x3000, {700});
    // "stage" is a construct of the run in whichever process it runs.
    flow_process(base, 90, {{"stage", stage_there}});
    // New: OpenMP first, at other addresses; new identifiers for the same
    // nodes; "function_node 1" twice as slow, "function_node 2" three
    // times, the sweep twice as fast.
    run_script fresh;
    fresh.process();
    openmp_tasks(fresh, 300, 0x2000, samples(8, 2000));
    openmp_tasks(fresh, 400, 0x4000, {700});
    flow_process(fresh, 40, {{"stage", stage_all}, {"", ten_2ms}, {"", {3000, 3000, 3000}}, {"added", {500}}});

    mvt_test::temp_dir dir;
    const run_analysis before = analyzed(base.text(), dir, "base", {{}, {{0x1000, sweep}}, {}});
    const run_analysis after = analyzed(fresh.text(), dir, "new", {{{0x2000, sweep}}, {}});
    const run_comparison c = compare_runs(before, after);

    std::map<std::string, const group_change*> groups;
    for (const group_change& g : c.groups) groups[g.label] = &g;
    ASSERT_EQ(groups.size(), 5u);
    for (const char* label : {"stage", "function_node 1", "function_node 2", "sweep (jacobi.c:57)", "omp_explicit"})
        ASSERT_TRUE(groups.count(label)) << label;
    EXPECT_EQ(groups["omp_explicit"]->kind, group_kind::unattached);
    EXPECT_EQ(groups["omp_explicit"]->base.executions, 9u);
    ASSERT_EQ(c.added.size(), 2u);
    EXPECT_EQ(c.added[0].label, "0x4000");  // an address alone matches nothing
    EXPECT_EQ(c.added[1].label, "added");
    ASSERT_EQ(c.removed.size(), 2u);
    EXPECT_EQ(c.removed[0].label, "0x3000");
    EXPECT_EQ(c.removed[1].label, "gone");

    const group_change& stage = *groups["stage"];
    EXPECT_EQ(stage.base.executions, 12u);
    EXPECT_EQ(stage.fresh.executions, 12u);
    EXPECT_FALSE(stage.test.significant);
    EXPECT_FALSE(stage.regressed);

    // Twice as slow, ten and ten apart: the smallest p-value of 10 and 10.
    const group_change& slower = *groups["function_node 1"];
    EXPECT_NEAR(*slower.change, 1000.0 / 1045, 1e-9);
    EXPECT_EQ(slower.test.how, rank_test::method::exact);
    EXPECT_NEAR(slower.test.p_value, 2.0 / 184756, 1e-12);
    EXPECT_TRUE(slower.regressed);
    EXPECT_EQ(c.regressions(), 1u);

    // Three times as slow, but three executions prove nothing.
    EXPECT_EQ(groups["function_node 2"]->test.how, rank_test::method::too_few);
    EXPECT_FALSE(groups["function_node 2"]->regressed);

    const group_change& sweep_row = *groups["sweep (jacobi.c:57)"];
    ASSERT_TRUE(sweep_row.location);
    EXPECT_EQ(sweep_row.location->line, 57u);
    EXPECT_NEAR(*sweep_row.change, -0.5, 1e-9);
    EXPECT_TRUE(sweep_row.test.significant);  // faster is no regression
    EXPECT_FALSE(sweep_row.regressed);

    // A threshold above the change clears it.
    comparison_options lenient;
    lenient.threshold = 1.0;
    EXPECT_EQ(compare_runs(before, after, lenient).regressions(), 0u);
}

TEST(tool_comparison, what_moves_the_ranks_or_the_mean_alone_is_no_regression) {
    // 200 executions 2 % slower each: significant, below the threshold.
    samples base = spread(200, 10000, 37, 400), shifted = base;
    for (std::uint64_t& d : shifted) d = d * 102 / 100;
    // One execution fifty times as long: the mean triples, the ranks hardly
    // move.
    samples few = spread(20, 100, 7, 20), outlier = few;
    outlier[0] = 50 * 100;
    // Executions of two sizes: the short ones get shorter, the long ones
    // much shorter, and a few more are long. The median doubles, the ranks
    // say faster.
    samples two_sizes(15, 100), fewer_long(14, 50);
    two_sizes.insert(two_sizes.end(), 15, 1000);
    fewer_long.insert(fewer_long.end(), 16, 200);
    // A busy machine: every execution 1 % slower, and six of sixteen
    // delayed by a preemption each. The ranks say slower, the mean says
    // +37 %, the median +1 %.
    samples sixteen = spread(16, 4000, 7, 16), delayed = sixteen;
    for (std::size_t i = 0; i < delayed.size(); ++i) delayed[i] = delayed[i] * 101 / 100 + (i % 3 == 0 ? 4000 : 0);
    auto group = [](const char* label, const samples& durations) {
        return duration_group{group_kind::construct, label, std::nullopt, durations};
    };
    const run_comparison c = compare_groups(
        {group("shift", base), group("spike", few), group("sizes", two_sizes), group("delays", sixteen)},
        {group("shift", shifted), group("spike", outlier), group("sizes", fewer_long), group("delays", delayed)}, {}, {});
    ASSERT_EQ(c.groups.size(), 4u);
    for (const group_change& g : c.groups) {
        EXPECT_FALSE(g.regressed) << g.label;
        EXPECT_EQ(g.test.significant, g.label != "spike") << g.label;
        if (g.label == "spike" || g.label == "delays") {
            EXPECT_GT(*g.change, 0.1) << g.label;
        }
        if (g.label == "sizes") {
            EXPECT_NEAR(*g.median_change, 1.0, 1e-12);
        }
    }
}

}  // namespace
