// The model of a run, built from traces written as the calls that made
// them: how executions pair up and resume, which node they belong to, and
// which edges the graph and the graph of executions get.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analysis/run_analysis.h"
#include "files.h"
#include "trace_script.h"

namespace {

using namespace mvt_trace;

run_analysis analyze_script(const std::string& script) {
    mvt_test::temp_dir dir;
    return analyze_run(mvt_tool_test::scripted_layout(script, dir.path()));
}

// "10.1.0 -> 20.1.0" for each node-to-node edge, by the first word of
// each end's identifier.
std::set<std::pair<std::uint64_t, std::uint64_t>> edges_of(const trace_model& model) {
    std::set<std::pair<std::uint64_t, std::uint64_t>> edges;
    for (const trace_model::edge& e : model.edges())
        edges.insert({model.objects()[e.from].id.d1, model.objects()[e.to].id.d1});
    return edges;
}

const trace_model::execution& execution_of(const trace_model& model, std::uint64_t d1) {
    for (const trace_model::execution& e : model.executions())
        if (model.id_of(e).d1 == d1) return e;
    throw std::runtime_error("no execution " + std::to_string(d1));
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces_of(const trace_model& model,
                                                               const trace_model::execution& e) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;
    for (std::uint32_t p = e.first_piece; p != no_index; p = model.pieces()[p].next)
        pieces.push_back({model.pieces()[p].begin - model.first_timestamp(), model.pieces()[p].end - model.first_timestamp()});
    return pieces;
}

std::vector<std::string> findings_of(const trace_model& model, severity level) {
    std::vector<std::string> lines;
    for (const finding& f : model.findings())
        if (severity_of(f.kind) == level) lines.push_back(finding_text(f, model));
    return lines;
}

std::vector<std::string> problems(const trace_model& model) { return findings_of(model, severity::problem); }

// Sibling tasks created by one task are ordered by OpenMP's rule in the
// order they were created; a task's node {T, 1, 0} is declared under its
// creator, its dependences follow as relations to the locations.
TEST(tool_model, openmp_dependences_follow_the_order_siblings_were_created_in) {
    const run_analysis run = analyze_script(R"(
thread 0
0 task_group openmp 100 0 omp_parallel
0 task_group openmp 200 100 omp_implicit
0 task_group openmp 300 100 omp_implicit
# creator 200: out, out, in, in, inout on a; then in and out on a together
1 task_group openmp 1.1 200 node
1 relation openmp 1.1 predecessor_to 77
2 task_group openmp 2.1 200 node
2 relation openmp 2.1 predecessor_to 77
3 task_group openmp 3.1 200 node
3 relation openmp 77 predecessor_to 3.1
4 task_group openmp 4.1 200 node
4 relation openmp 77 predecessor_to 4.1
5 task_group openmp 5.1 200 node
5 relation openmp 5.1 predecessor_to 77
6 task_group openmp 6.1 200 node
6 relation openmp 77 predecessor_to 6.1
6 relation openmp 6.1 predecessor_to 77
7 task_group openmp 7.1 200 node
7 relation openmp 77 predecessor_to 7.1
thread 1
# creator 300 names the same address: its tasks are not ordered by 200's
2 task_group openmp 8.1 300 node
2 relation openmp 77 predecessor_to 8.1
8 task_group openmp 9.1 300 node
8 relation openmp 9.1 predecessor_to 77
)");
    const std::set<std::pair<std::uint64_t, std::uint64_t>> expected = {
        {1, 2},          // out after out
        {2, 3}, {2, 4},  // in after the last out
        {2, 5}, {3, 5}, {4, 5},  // inout after the last out and every in since
        {5, 6},          // in and out on one task: it writes
        {6, 7},          // in after it
        {8, 9},          // the other creator's own order
    };
    EXPECT_EQ(edges_of(run.model), expected);
    EXPECT_TRUE(problems(run.model).empty());
}

// OpenMP reports each resumption of an untied task as a switch to it: a
// task_begin of a task already open. An explicit task is switched out
// while another explicit task runs above it on its thread.
TEST(tool_model, an_openmp_task_that_resumes_is_one_execution_of_its_pieces) {
    const run_analysis run = analyze_script(R"(
thread 0
0 task_begin openmp 100 0 omp_implicit
10 task_begin openmp 1 0 omp_explicit
# 1 suspends: the thread switches back to its implicit task
20 task_begin openmp 100 0 omp_explicit
# a tied task 2 runs its child 3 at a taskwait
30 task_begin openmp 2 0 omp_explicit
35 task_begin openmp 3 0 omp_explicit
45 task_end openmp
50 task_end openmp
100 task_end openmp
thread 1
0 task_begin openmp 200 0 omp_implicit
# 1 resumes here and completes
60 task_begin openmp 1 0 omp_explicit
70 task_end openmp
100 task_end openmp
)");
    const trace_model& model = run.model;
    const trace_model::execution& untied = execution_of(model, 1);
    EXPECT_EQ(pieces_of(model, untied), (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{10, 20}, {60, 70}}));
    EXPECT_EQ(untied.busy, 20u);
    EXPECT_FALSE(untied.open_at_end);
    const trace_model::execution& parent = execution_of(model, 2);
    EXPECT_EQ(pieces_of(model, parent), (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{30, 35}, {45, 50}}));
    EXPECT_EQ(execution_of(model, 3).busy, 10u);
    // The implicit task holds what its thread ran, and counts once.
    EXPECT_EQ(execution_of(model, 100).busy, 100u);
    EXPECT_EQ(run.tasks_without_node, 3u);
    EXPECT_EQ(run.tasks_without_node_ns, 20u + 10u + 10u);
    EXPECT_TRUE(problems(model).empty());
}

// What a flow-graph runtime does is no problem: regions of one identifier
// that overlap and end on another thread (it counts what it waits for), a
// node declared under its base kind and again under its own, and work done
// for an async node under its output port by a thread of the program's.
TEST(tool_model, a_flow_graph_runtimes_habits_are_read_as_what_they_mean) {
    const run_analysis run = analyze_script(R"(
thread 0
0 task_group flow 1.53 0 graph
0 task_group flow 10.54 1.53 buffer_node
0 task_group flow 10.54 1.53 queue_node
0 task_group flow 20.54 1.53 multifunction_node
0 task_group flow 20.40 20.54 output_port_0
0 task_group flow 20.54 1.53 async_node
0 relation flow 21.52 child_of 20.54
1 region_begin flow 1.53 0 0
2 region_begin flow 1.53 0 0
3 task_begin flow 21.52 0 body
4 region_end flow 1.53
5 task_end flow
thread 1
6 task_begin flow 20.40 20.39 output_port
7 task_end flow
8 region_end flow 1.53
)");
    const trace_model& model = run.model;
    EXPECT_TRUE(problems(model).empty());
    std::set<std::string> kinds;
    for (const trace_model::object& o : model.objects()) kinds.emplace(model.kind_of(o));
    EXPECT_TRUE(kinds.count("queue_node") && !kinds.count("buffer_node"));
    ASSERT_EQ(run.statistics.nodes.size(), 1u);
    EXPECT_EQ(model.kind_of(model.objects()[run.statistics.nodes[0].object]), "async_node");
    EXPECT_EQ(run.statistics.nodes[0].stats.count(), 2u);  // its body, and its port's work on thread 1
    ASSERT_EQ(model.regions().size(), 2u);
    for (const trace_model::region& r : model.regions()) {
        EXPECT_FALSE(r.open_at_end);
        EXPECT_EQ(model.text(r.name), "graph");  // unnamed, they read as their graph
    }
}

// Each execution of a node waits for the latest execution of each node
// before it (through nodes that never run) to end before it began.
TEST(tool_model, the_graph_of_executions_follows_the_latest_predecessor_to_end) {
    const run_analysis run = analyze_script(R"(
thread 0
0 task_group flow 1 0 graph
0 task_group flow 10 1 function_node
0 task_group flow 11 1 queue_node
0 task_group flow 12 1 function_node
0 relation flow 10 predecessor_to 11
0 relation flow 11 predecessor_to 12
# a feedback edge: the last stage lets the first go on
0 relation flow 12 predecessor_to 10
0 task_begin flow 10 0 a
10 task_end flow
10 task_begin flow 10 0 a
20 task_end flow
23 task_begin flow 10 0 a
33 task_end flow
thread 1
12 task_begin flow 12 0 b
22 task_end flow
25 task_begin flow 12 0 b
35 task_end flow
)");
    const dependency_summary& graph = run.dependencies;
    EXPECT_EQ(graph.executions, 5u);
    // b#1 after a#1, b#2 after a#2 (a#3 ended after it began), a#3 after
    // b#1 through the feedback edge.
    EXPECT_EQ(graph.execution_edges, 3u);
    EXPECT_EQ(graph.work, 50u);
    EXPECT_EQ(graph.span, 30u);  // a#1, b#1, a#3
    ASSERT_EQ(graph.critical_path.size(), 3u);
    EXPECT_EQ(graph.critical_path[1].instance, 1u);
    EXPECT_EQ(graph.critical_path[2].instance, 3u);
    EXPECT_EQ(graph.edges, 3u);  // the node graph keeps its loop
}

// A node's execution never ended is wrong in a whole file; the runtime's
// own still open at exit is what runtimes do.
TEST(tool_model, executions_left_open_are_problems_only_when_they_are_a_nodes) {
    const run_analysis run = analyze_script(R"(
thread 0
0 task_group flow 10 0 function_node
1 task_begin flow 0 0 root
2 task_begin flow 10 0 body
3 task_end flow
4 task_begin flow 10 0 body
9 task_end flow
9 task_end flow
9 task_end flow
thread 1
1 task_begin flow 0 0 root
2 task_begin flow 10 0 body
)");
    const std::vector<std::string> found = problems(run.model), notes = findings_of(run.model, severity::note);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("_mvt.1: 1 execution of graph nodes still open"), std::string::npos) << found[0];
    ASSERT_EQ(notes.size(), 2u);  // and a task_end with nothing open, in _mvt.0
    EXPECT_NE(notes[1].find("_mvt.1: 1 execution of the runtime's own still open"), std::string::npos) << notes[1];
    // Open executions have no duration and count nowhere.
    ASSERT_EQ(run.statistics.nodes.size(), 1u);
    EXPECT_EQ(run.statistics.nodes[0].stats.count(), 2u);
}

}  // namespace
