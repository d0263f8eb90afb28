// diff's pieces: the rank test on samples whose U and p-value were worked
// out apart (by enumerating every arrangement, and by the textbook formula
// for the normal approximation), and the matching of two hand-written runs
// whose identifiers, addresses and process order differ while their labels
// agree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <set>
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

// p-values by enumerating every arrangement where the test counts exactly;
// with ties or many values, by the normal approximation, corrected.
TEST(tool_rank_test, p_values_are_exact_where_they_can_be_counted_and_approximated_elsewhere) {
    using method = rank_test::method;
    struct rank_case {
        const char* what;
        samples first, second;
        method how;
        double u, p, relative_error;
        bool significant;
    };
    const samples interleaved_a = {12, 15, 19, 23, 31, 35, 40, 44}, interleaved_b = {21, 27, 33, 38, 46, 50, 52, 60};
    const std::vector<rank_case> cases = {
        {"one sample wholly above the other: 2 / C(10, 5)", {1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, method::exact, 25,
         2.0 / 252, 1e-9, true},
        {"interleaved", interleaved_a, interleaved_b, method::exact, 50, 0.06495726495726496, 1e-9, false},
        {"the order of the samples changes U to m n - U, never the p-value", interleaved_b, interleaved_a,
         method::exact, 14, 0.06495726495726496, 1e-9, false},
        {"40 and 40, counted exactly", spread(40, 1000, 7919, 99991), spread(40, 30000, 104729, 99989), method::exact,
         1204, 6.833835650151517e-05, 1e-9, true},
        // Groups of equal values of sizes 2, 2, 4, 4, 4, 2, 2:
        // z = (|90 - 50| - 0.5) / sqrt(100 / 12 x (21 - 228 / 380)).
        {"ties", {1, 1, 2, 2, 3, 3, 3, 4, 4, 5}, {3, 4, 4, 5, 5, 5, 6, 6, 7, 7}, method::normal, 90,
         0.00248770512466929, 1e-9, true},
        // Within 1 % of the exact p-value where it matters, near the level.
        {"70 and 70 are too many to count", spread(70, 1000, 7919, 99991), spread(70, 9000, 104729, 99989),
         method::normal, 2833, 0.1110928454805067, 0.01, false},
        {"every value the same says nothing", samples(20, 7), samples(30, 7), method::normal, 300, 1, 1e-12, false},
    };
    for (const rank_case& c : cases) {
        const rank_test t = mann_whitney(c.first, c.second);
        EXPECT_EQ(t.how, c.how) << c.what;
        EXPECT_EQ(t.u, c.u) << c.what;
        EXPECT_NEAR(t.p_value / c.p, 1, c.relative_error) << c.what;
        EXPECT_EQ(t.significant, c.significant) << c.what;
    }
    EXPECT_NEAR(mann_whitney(interleaved_a, interleaved_b).second_slower_share(), 50.0 / 64, 1e-12);
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
    const duration_summary s = summarize({50, 10, 40, 20, 30});
    EXPECT_EQ(std::vector<std::uint64_t>({s.executions, s.total, s.mean, s.p50, s.p95}),
              std::vector<std::uint64_t>({5, 150, 30, 30, 50}));
    EXPECT_EQ(summarize({20, 10}).p50, 10u);               // the lower of two
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
    return analyze_model(read_model(mvt_tool_test::scripted_layout(script, dir / name)), &places);
}

TEST(tool_comparison, runs_are_matched_by_label_across_processes_never_by_address) {
    code_location sweep{true, "sweep", "jacobi.c", 57, false, "", "", 0, "sweep (jacobi.c:57)"};
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
    std::set<std::string> matched;
    for (const group_change& g : c.groups) {
        groups[g.label] = &g;
        matched.insert(g.label);
    }
    const auto labels = [](const std::vector<lone_group>& rows) {
        std::vector<std::string> l;
        for (const lone_group& row : rows) l.push_back(row.label);
        return l;
    };
    ASSERT_EQ(matched, (std::set<std::string>{"function_node 1", "function_node 2", "omp_explicit", "stage",
                                              "sweep (jacobi.c:57)"}));
    EXPECT_EQ(groups["omp_explicit"]->kind, group_kind::unattached);
    EXPECT_EQ(groups["omp_explicit"]->base.executions, 9u);
    // An address alone matches nothing.
    EXPECT_EQ(labels(c.added), (std::vector<std::string>{"0x4000", "added"}));
    EXPECT_EQ(labels(c.removed), (std::vector<std::string>{"0x3000", "gone"}));

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
