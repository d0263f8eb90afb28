// The greedy schedule on hand-made task graphs whose schedules can be
// worked out on paper, the overheads it adds, and the bounds beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/run_analysis.h"
#include "analysis/schedule_prediction.h"
#include "files.h"
#include "trace_script.h"

namespace {

using namespace mvt_trace;
using durations = std::vector<std::uint64_t>;

// A graph from (task, task it waits for) pairs.
task_dag dag_of(std::size_t tasks, const index_pairs& waits) {
    task_dag dag;
    dag.predecessors = compressed_rows(tasks, waits);
    return dag;
}

std::uint64_t length(const task_dag& dag, const durations& d, std::uint64_t workers, schedule_overheads overheads = {}) {
    return schedule_length(dag, d, overheads, workers);
}

// Graphs without overheads, each with its length on some numbers of
// workers, which also keep within Graham's bounds.
TEST(tool_prediction, graphs_without_overheads_take_their_schedules_worked_out_on_paper) {
    // Three layers of four, every task of a layer waiting for every task of
    // the layer before: on two workers a layer takes 5 (4 | 3 then 2 | 1 at 4).
    index_pairs layered;
    for (std::uint32_t layer = 1; layer < 3; ++layer)
        for (std::uint32_t i = 0; i < 4; ++i)
            for (std::uint32_t j = 0; j < 4; ++j) layered.push_back({4 * layer + i, 4 * (layer - 1) + j});
    struct schedule_case {
        const char* what;
        task_dag dag;
        durations d;
        std::uint64_t work, span;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> length_on;  // workers, length
    };
    const std::vector<schedule_case> cases = {
        {"independent tasks fill the workers in release order; no workers means one", dag_of(5, {}),
         {3, 3, 2, 2, 2}, 12, 3, {{0, 12}, {1, 12}, {2, 7}, {3, 5}, {5, 3}, {1000000, 3}}},
        {"a chain takes its length on any number of workers", dag_of(4, {{1, 0}, {2, 1}, {3, 2}}),
         {10, 20, 30, 40}, 100, 100, {{1, 100}, {2, 100}, {64, 100}}},
        {"a layered graph is scheduled layer by layer", dag_of(12, layered), {4, 3, 2, 1, 4, 3, 2, 1, 4, 3, 2, 1},
         30, 12, {{1, 30}, {2, 15}, {3, 12}, {4, 12}, {6, 12}}},
        // 0 (10) alone; 1 (2) -> 4 (1) -> 5 (60); 2 (1) -> 3 (50). The second
        // worker runs 1, 2, then 4 (released at 2, before 3 at 3), then 3;
        // the first takes 5 at 10, whatever the tasks' numbers.
        {"the task released first goes first", dag_of(6, {{3, 2}, {4, 1}, {5, 4}}), {10, 2, 1, 50, 1, 60}, 124, 63,
         {{2, 70}}},
        {"nothing to run", dag_of(0, {}), {}, 0, 0, {{4, 0}}},
    };
    for (const schedule_case& c : cases) {
        const dag_extent extent = measure_extent(c.dag, c.d);
        EXPECT_EQ(extent.work, c.work) << c.what;
        EXPECT_EQ(extent.span, c.span) << c.what;
        for (const auto& [p, expected] : c.length_on) {
            const std::uint64_t t = length(c.dag, c.d, p);
            EXPECT_EQ(t, expected) << c.what << ", " << p << " workers";
            const std::uint64_t workers = std::max<std::uint64_t>(p, 1);
            EXPECT_GE(t, std::max((c.work + workers - 1) / workers, c.span)) << c.what << ", " << p << " workers";
            EXPECT_LE(t, c.work / workers + c.span) << c.what << ", " << p << " workers";
        }
    }
}

TEST(tool_prediction, overheads_delay_every_start_and_stream_creations) {
    schedule_overheads delay, creation;
    delay.start_delay = 1;
    creation.creation_cost = 5;
    EXPECT_EQ(length(dag_of(3, {{1, 0}, {2, 1}}), {10, 10, 10}, 4, delay), 33u);
    // Four tasks that the program creates one by one, 5 apart.
    task_dag streamed = dag_of(4, {});
    const durations four(4, 10);
    streamed.stream.assign(4, 1);
    EXPECT_EQ(length(streamed, four, 4, creation), 25u);
    EXPECT_EQ(length(streamed, four, 1, creation), 40u);
    // Tasks of no stream are there from the start; two streams create side
    // by side.
    streamed.stream = {1, 0, 1, 0};
    EXPECT_EQ(length(streamed, four, 4, creation), 15u);
    streamed.stream = {1, 2, 1, 2};
    EXPECT_EQ(length(streamed, four, 4, creation), 15u);
    EXPECT_EQ(length(streamed, four, 2, creation), 20u);
}

TEST(tool_prediction, a_created_task_may_start_once_its_creator_has_run_that_far) {
    task_dag dag = dag_of(3, {});
    dag.creator = {no_index, 0, 0};
    dag.created_after = {0, 4, 8};
    const durations d = {10, 10, 10};
    EXPECT_EQ(length(dag, d, 3), 18u);
    EXPECT_EQ(length(dag, d, 2), 20u) << "the second child waits for its creator's worker";
    EXPECT_EQ(length(dag, d, 1), 30u);
    EXPECT_EQ(measure_extent(dag, d).span, 18u);
    // A creation past the creator's own length counts as at its end.
    dag.created_after = {0, 4, 50};
    EXPECT_EQ(length(dag, d, 3), 20u);
}

TEST(tool_prediction, phases_follow_each_other_with_their_serial_time) {
    task_dag dag = dag_of(4, {{1, 0}});
    dag.phase_begin = {0, 2};
    dag.serial = {1, 2, 3};
    const durations d = {10, 10, 10, 10};
    // Phase one is a chain of two; phase two two tasks side by side.
    EXPECT_EQ(length(dag, d, 2), 1u + 20 + 2 + 10 + 3);
    EXPECT_EQ(length(dag, d, 1), 1u + 20 + 2 + 20 + 3);
    EXPECT_EQ(measure_extent(dag, d).work, 46u);
    EXPECT_EQ(measure_extent(dag, d).span, 36u);
    // The serial time before a phase ends with its first task's start: the
    // start delay lies within it, where it fits.
    task_dag two = dag_of(2, {});
    two.phase_begin = {0, 1};
    two.serial = {5, 1, 0};
    schedule_overheads delay;
    delay.start_delay = 2;
    EXPECT_EQ(length(two, {10, 10}, 1, delay), 5u + 10 + 2 + 10);
    // No task at all: the serial time alone.
    task_dag empty = dag_of(0, {});
    empty.serial = {7, 0};
    EXPECT_EQ(length(empty, {}, 8), 7u);
}

// The report's what-ifs on the diamond A(20) -> {B(60), C(30)} -> D(20) ms,
// recorded on two workers: halving B saves 30 ms (C then bounds the
// middle), A and D 10 ms each, C nothing.
TEST(tool_prediction, halving_the_construct_on_the_critical_path_saves_the_most) {
    mvt_test::temp_dir dir;
    const run_analysis run = analyze_run(mvt_tool_test::scripted_layout(
        mvt_test::read_file(std::string(MVT_TOOL_DATA) + "/analyze/diamond.trace"), dir.path()));
    constexpr std::uint64_t ms = 1000000;
    const std::vector<what_if_row> rows = halving_what_ifs(run.schedule, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].label, "B");
    EXPECT_EQ(rows[0].time_ns, 70 * ms);
    EXPECT_EQ(rows[0].saved_ns, 30 * ms);
    EXPECT_EQ(rows[1].saved_ns, 10 * ms);
    EXPECT_EQ(rows[2].saved_ns, 10 * ms);
    EXPECT_EQ(halving_what_ifs(run.schedule, 9).back().label, "C");
}

}  // namespace
