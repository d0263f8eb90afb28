// The greedy schedule on hand-made task graphs whose schedules can be
// worked out on paper, the overheads it adds, and the bounds beside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "analysis/run_analysis.h"
#include "analysis/schedule_prediction.h"
#include "files.h"
#include "model/findings.h"
#include "trace_script.h"

namespace {

using namespace mvt_trace;

// A graph from (task, task it waits for) pairs.
task_dag dag_of(std::size_t tasks, const index_pairs& waits) {
    task_dag dag;
    dag.predecessors = compressed_rows(tasks, waits);
    return dag;
}

std::uint64_t length(const task_dag& dag, const std::vector<std::uint64_t>& durations, std::uint64_t workers,
                     schedule_overheads overheads = {}) {
    return schedule_length(dag, durations, overheads, workers);
}

TEST(tool_prediction, independent_tasks_fill_the_workers_in_release_order) {
    const task_dag dag = dag_of(5, {});
    // Two workers: 3 and 3 first, then the three 2s in turn.
    const std::vector<std::uint64_t> durations = {3, 3, 2, 2, 2};
    EXPECT_EQ(length(dag, durations, 1), 12u);
    EXPECT_EQ(length(dag, durations, 2), 7u);
    EXPECT_EQ(length(dag, durations, 3), 5u);
    EXPECT_EQ(length(dag, durations, 5), 3u);
    EXPECT_EQ(length(dag, durations, 1000000), 3u);
    EXPECT_EQ(length(dag, durations, 0), 12u) << "no workers means one";
    EXPECT_EQ(length(dag_of(0, {}), {}, 4), 0u);
}

TEST(tool_prediction, a_chain_takes_its_length_on_any_number_of_workers) {
    const task_dag dag = dag_of(4, {{1, 0}, {2, 1}, {3, 2}});
    const std::vector<std::uint64_t> durations = {10, 20, 30, 40};
    for (std::uint64_t p : {1, 2, 64}) EXPECT_EQ(length(dag, durations, p), 100u) << p;
    const dag_extent extent = measure_extent(dag, durations);
    EXPECT_EQ(extent.work, 100u);
    EXPECT_EQ(extent.span, 100u);
}

TEST(tool_prediction, a_diamond_runs_its_two_branches_side_by_side) {
    // A(20) -> B(60), C(30) -> D(20).
    const task_dag dag = dag_of(4, {{1, 0}, {2, 0}, {3, 1}, {3, 2}});
    const std::vector<std::uint64_t> durations = {20, 60, 30, 20};
    EXPECT_EQ(length(dag, durations, 1), 130u);
    EXPECT_EQ(length(dag, durations, 2), 100u);
    EXPECT_EQ(length(dag, durations, 8), 100u);
    const dag_extent extent = measure_extent(dag, durations);
    EXPECT_EQ(extent.work, 130u);
    EXPECT_EQ(extent.span, 100u);
}

// Three layers of four, every task of a layer waiting for every task of
// the layer before: each layer is a schedule of independent tasks.
TEST(tool_prediction, a_layered_graph_is_scheduled_layer_by_layer) {
    index_pairs waits;
    for (std::uint32_t layer = 1; layer < 3; ++layer)
        for (std::uint32_t i = 0; i < 4; ++i)
            for (std::uint32_t j = 0; j < 4; ++j) waits.push_back({4 * layer + i, 4 * (layer - 1) + j});
    const task_dag dag = dag_of(12, waits);
    const std::vector<std::uint64_t> durations = {4, 3, 2, 1, 4, 3, 2, 1, 4, 3, 2, 1};
    // On two workers a layer takes 5: 4 | 3 then 2 | then 1 at 4.
    EXPECT_EQ(length(dag, durations, 1), 30u);
    EXPECT_EQ(length(dag, durations, 2), 15u);
    EXPECT_EQ(length(dag, durations, 3), 12u);
    EXPECT_EQ(length(dag, durations, 4), 12u);
    const dag_extent extent = measure_extent(dag, durations);
    EXPECT_EQ(extent.work, 30u);
    EXPECT_EQ(extent.span, 12u);
    // Graham's bounds hold for every number of workers.
    for (std::uint64_t p = 1; p <= 6; ++p) {
        const std::uint64_t t = length(dag, durations, p);
        EXPECT_GE(t, std::max((extent.work + p - 1) / p, extent.span)) << p;
        EXPECT_LE(t, extent.work / p + extent.span) << p;
    }
}

// Of the tasks that may start, a free worker takes the one released first,
// as a runtime's queues hand them out, whatever their numbers.
TEST(tool_prediction, the_task_released_first_goes_first) {
    // 0 (10) alone; 1 (2) -> 4 (1) -> 5 (60); 2 (1) -> 3 (50). The second
    // worker runs 1, 2, then 4 (released at 2, before 3 at 3), then 3; the
    // first takes 5 at 10.
    const task_dag dag = dag_of(6, {{3, 2}, {4, 1}, {5, 4}});
    EXPECT_EQ(length(dag, {10, 2, 1, 50, 1, 60}, 2), 70u);
}

TEST(tool_prediction, overheads_delay_every_start_and_stream_creations) {
    const task_dag chain = dag_of(3, {{1, 0}, {2, 1}});
    schedule_overheads delay;
    delay.start_delay = 1;
    EXPECT_EQ(length(chain, {10, 10, 10}, 4, delay), 33u);

    // Four tasks that the program creates one by one, 5 apart.
    task_dag streamed = dag_of(4, {});
    streamed.stream.assign(4, 1);
    schedule_overheads creation;
    creation.creation_cost = 5;
    EXPECT_EQ(length(streamed, {10, 10, 10, 10}, 4, creation), 25u);
    EXPECT_EQ(length(streamed, {10, 10, 10, 10}, 1, creation), 40u);
    // Tasks of no stream are there from the start; two streams create side
    // by side.
    streamed.stream = {1, 0, 1, 0};
    EXPECT_EQ(length(streamed, {10, 10, 10, 10}, 4, creation), 15u);
    streamed.stream = {1, 2, 1, 2};
    EXPECT_EQ(length(streamed, {10, 10, 10, 10}, 4, creation), 15u);
    EXPECT_EQ(length(streamed, {10, 10, 10, 10}, 2, creation), 20u);
}

TEST(tool_prediction, a_created_task_may_start_once_its_creator_has_run_that_far) {
    task_dag dag = dag_of(3, {});
    dag.creator = {no_index, 0, 0};
    dag.created_after = {0, 4, 8};
    const std::vector<std::uint64_t> durations = {10, 10, 10};
    EXPECT_EQ(length(dag, durations, 3), 18u);
    EXPECT_EQ(length(dag, durations, 2), 20u) << "the second child waits for its creator's worker";
    EXPECT_EQ(length(dag, durations, 1), 30u);
    const dag_extent extent = measure_extent(dag, durations);
    EXPECT_EQ(extent.span, 18u);
    // A creation past the creator's own length counts as at its end.
    dag.created_after = {0, 4, 50};
    EXPECT_EQ(length(dag, durations, 3), 20u);
}

TEST(tool_prediction, phases_follow_each_other_with_their_serial_time) {
    task_dag dag = dag_of(4, {{1, 0}});
    dag.phase_begin = {0, 2};
    dag.serial = {1, 2, 3};
    const std::vector<std::uint64_t> durations = {10, 10, 10, 10};
    // Phase one is a chain of two; phase two two tasks side by side.
    EXPECT_EQ(length(dag, durations, 2), 1u + 20 + 2 + 10 + 3);
    EXPECT_EQ(length(dag, durations, 1), 1u + 20 + 2 + 20 + 3);
    const dag_extent extent = measure_extent(dag, durations);
    EXPECT_EQ(extent.work, 46u);
    EXPECT_EQ(extent.span, 36u);
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
    const std::vector<std::string> directories = mvt_tool_test::write_trace_script(
        mvt_test::read_file(std::string(MVT_TOOL_DATA) + "/analyze/diamond.trace"), dir.path());
    run_layout layout;
    std::string error;
    ASSERT_TRUE(read_run_layout(directories, layout, error)) << error;
    const run_analysis run = analyze_run(layout);
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
