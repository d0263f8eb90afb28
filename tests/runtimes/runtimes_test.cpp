// Programs of real shapes on real runtimes, traced through the library bound
// the way users bind it (an environment variable and nothing else), then
// analysed with mvt-trace. What the analysis must say comes from
// reference.py, which reads the raw trace files itself and applies the
// dependence and duration rules on its own; runs are never repeatable, so
// the reference is worked out from each run's own files and compared exactly.
//
// A failing case names its trace directory; set MVT_KEEP_TEST_DIRS=1 to keep it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "files.h"

namespace {

using json = nlohmann::json;
using edge_set = std::set<std::pair<std::string, std::string>>;

// One traced run of a program, in a fresh directory that is both its trace
// directory and its working directory.
struct traced_program {
    mvt_test::temp_dir dir;
    mvt_test::child_result child;

    // The number the program printed as "key=N".
    long reported(const std::string& key) const {
        const std::size_t at = child.out.find(key + "=");
        return at == std::string::npos ? -1 : std::atol(child.out.c_str() + at + key.size() + 1);
    }
};

// `binding` is "NAME=path" of the one variable that makes the runtime load
// the library; the other one is removed, as are the knobs that would change
// what the runtime does.
void run_traced(traced_program& run, const std::string& program, const std::string& binding) {
    mvt_test::child_options options{run.dir.path(),
                                    {"MVA_DIR=" + run.dir.path(), binding},
                                    {"OMP_TOOL_LIBRARIES", "INTEL_LIBITTNOTIFY64", "OMP_TOOL", "OMP_NUM_THREADS",
                                     "OMP_TOOL_VERBOSE_INIT", "OMP_WAIT_POLICY", "KMP_BLOCKTIME"},
                                    120};
    run.child = mvt_test::run_child({program}, options);
    ASSERT_EQ(run.child.exit_code, 0) << program << " failed:\n" << run.child.out << run.child.err;
}

void run_openmp(traced_program& run, const std::string& program) {
    run_traced(run, program, "OMP_TOOL_LIBRARIES=" MVT_LIB_PATH);
}

void run_json(const std::vector<std::string>& argv, json& out) {
    const mvt_test::child_result r =
        mvt_test::run_child(argv, {"", {}, {"MVA_DIR", "OMP_TOOL_LIBRARIES", "INTEL_LIBITTNOTIFY64"}, 120});
    ASSERT_EQ(r.exit_code, 0) << argv[1] << " failed:\n" << r.out << r.err;
    out = json::parse(r.out);
}

// Runs the reference (in `mode`) and mvt-trace analyze on a run, and
// requires that analyze found no problem.
void analyze_with_reference(const traced_program& run, const std::string& mode, json& ref, json& tool) {
    ASSERT_NO_FATAL_FAILURE(run_json({MVT_PYTHON3, MVT_REFERENCE, mode, run.dir.path()}, ref));
    ASSERT_NO_FATAL_FAILURE(run_json({MVT_TRACE_EXE, "analyze", run.dir.path(), "--json", "--edges"}, tool));
    EXPECT_EQ(tool.at("problems"), json::array());
}

// What every run must show besides: the run's length, and how long 0, 1,
// 2... threads were busy with the program's tasks at once, are the
// reference's; mvt-trace check finds nothing wrong.
void expect_concurrency_as_reference_and_check_passes(const traced_program& run, const json& tool, const json& ref) {
    const json& expected = ref.at("task_concurrency");
    EXPECT_EQ(tool.at("wall_ns"), expected.at("wall_ns"));
    const json& tasks = tool.at("concurrency").at("tasks");
    EXPECT_EQ(tasks.at("max"), expected.at("max"));
    json time_at = json::object();
    for (const auto& [busy, ns] : tasks.at("time_at_ns").items())
        if (ns != 0) time_at[busy] = ns;
    EXPECT_EQ(time_at, expected.at("time_at_ns"));
    const mvt_test::child_result r = mvt_test::run_child({MVT_TRACE_EXE, "check", run.dir.path()}, {});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
}

// The reference's edges are the tool's; otherwise a few of those that one
// side has and the other lacks are shown.
void expect_same_edges(const json& reference_edges, const json& tool_edges) {
    edge_set expected, actual;
    for (const json& e : reference_edges) expected.insert({e.at(0).get<std::string>(), e.at(1).get<std::string>()});
    for (const json& e : tool_edges) actual.insert({e.at(0).get<std::string>(), e.at(1).get<std::string>()});
    std::ostringstream out;
    int missing = 0, extra = 0;
    for (const auto& e : expected)
        if (!actual.count(e) && missing++ < 8) out << "  missing " << e.first << " -> " << e.second << "\n";
    for (const auto& e : actual)
        if (!expected.count(e) && extra++ < 8) out << "  extra   " << e.first << " -> " << e.second << "\n";
    EXPECT_TRUE(expected == actual) << out.str();
}

std::map<std::string, json> rows_by_id(const json& rows) {
    std::map<std::string, json> by_id;
    for (const json& row : rows)
        if (row.contains("id")) by_id[row.at("id").get<std::string>()] = row;
    return by_id;
}

class real_runtime : public ::testing::Test {
    void SetUp() override {
#ifdef MVT_UNDER_TSAN
        // Neither libomp nor oneTBB is built with ThreadSanitizer, which
        // would report races inside the runtimes on every run.
        GTEST_SKIP() << "the runtimes are not instrumented for ThreadSanitizer";
#endif
    }
};

// A program whose tasks carry dependences, and what its shape implies: the
// number of tasks (and of their parents, which declare no dependence), and
// of task-to-task edges, which keeps the reference itself honest.
struct dependent_program {
    const char* name;
    const char* path;
    long tasks, parents, edges;
    bool addresses_reused;  // parents' locals come back at the same addresses under other parents
};
void PrintTo(const dependent_program& program, std::ostream* out) { *out << program.name; }

const dependent_program dependent_programs[] = {
    // 8 blocks, 6 steps. From the second step on, block b waits for the
    // writers of blocks b-1, b, b+1 (22 edges a step, the edge blocks having
    // one neighbour); from the third on, also for the last writer of its
    // target block (8 more; the readers of that block are those neighbours).
    {"double_buffered_stencil", OMP_STENCIL_PROGRAM, 8 * 6, 0, 22 + 4 * 30, false},
    // 5 tasks in each of the 15 calls above the leaves. Per call: inout x ->
    // inout x -> {in x/out y, in x/out z} -> the folding task, which also
    // waits for the second updater: 6 edges.
    {"recursion_whose_siblings_share_their_parents_locals", OMP_RECURSIVE_SIBLINGS_PROGRAM, 75, 0, 6 * 15, true},
    // Counted by hand from the eight sequences: 2, 3, 7, 6, 5, 8, 9 and 6.
    {"orderings_of_in_out_and_inout", OMP_DEPENDENCE_ORDERS_PROGRAM, 41, 8, 46, true},
    // The children of an untied parent are created from whichever thread
    // the parent runs on at the time; when it has moved, their creation order
    // spans two files (the property says in how many groups that happened).
    // Per parent, the first round has 5 edges (out x -> two readers of x ->
    // the updater, which also waits for the writer), each later round 8 (3
    // more from the round before: its updater to the new writer of x and to
    // the new writer of y, and its writer of y to the new one).
    {"dependent_children_of_untied_parents", OMP_UNTIED_PARENTS_PROGRAM, 24 * 3 * 4, 24, 24 * (5 + 2 * 8), false},
};

class dependences : public real_runtime, public ::testing::WithParamInterface<dependent_program> {};

// The tool's task-to-task edges and span are the reference's, every task
// node shows its one execution with the reference's duration and code
// address, and the tasks without dependences (the parents) add up as the
// reference says.
TEST_P(dependences, as_the_reference_works_them_out) {
    const dependent_program& program = GetParam();
    traced_program run;
    ASSERT_NO_FATAL_FAILURE(run_openmp(run, program.path));
    ASSERT_EQ(run.reported("tasks"), program.tasks);
    ASSERT_EQ(run.reported("parents"), program.parents ? program.parents : -1);
    SCOPED_TRACE("trace in " + run.dir.path());
    json ref, tool;
    ASSERT_NO_FATAL_FAILURE(analyze_with_reference(run, "openmp", ref, tool));
    ASSERT_EQ(ref.at("task_nodes").size(), static_cast<std::size_t>(program.tasks));
    ASSERT_EQ(ref.at("edges").size(), static_cast<std::size_t>(program.edges));
    ASSERT_EQ(ref.at("explicit_open_at_end"), 0);
    ASSERT_EQ(ref.at("task_nodes_never_begun"), 0) << "the runtime did not report every task it ran";
    EXPECT_EQ(ref.at("without_dependences").at("executions"), program.parents);
    // The case is only worth its name when the addresses did come back.
    EXPECT_GE(ref.at("addresses_in_several_groups"), program.addresses_reused ? 1 : 0);
    RecordProperty("groups_created_from_several_threads", ref.at("groups_created_from_several_threads").get<int>());

    const json& graph = tool.at("dependency_graph");
    expect_same_edges(ref.at("edges"), graph.at("edge_list"));
    EXPECT_EQ(graph.at("span_ns"), ref.at("span_ns"));
    EXPECT_EQ(graph.at("work_ns"), ref.at("work_ns"));
    std::map<std::string, json> rows = rows_by_id(tool.at("nodes"));
    for (const auto& [id, node] : ref.at("task_nodes").items()) {
        SCOPED_TRACE("task node " + id);
        ASSERT_EQ(rows.count(id), 1u);
        EXPECT_EQ(rows[id].at("executions"), 1);
        EXPECT_EQ(rows[id].at("total_ns"), node.at("total_ns"));
        EXPECT_EQ(rows[id].value("code_address", ""), node.at("code_address"));
        rows.erase(id);
    }
    EXPECT_TRUE(rows.empty()) << "nodes that are no task of the program, first: " << rows.begin()->first;
    EXPECT_EQ(tool.at("tasks_without_dependences"), ref.at("without_dependences"));
    expect_concurrency_as_reference_and_check_passes(run, tool, ref);
}

INSTANTIATE_TEST_SUITE_P(real_runtime, dependences, ::testing::ValuesIn(dependent_programs),
                         [](const auto& info) { return std::string(info.param.name); });

// Untied tasks are switched out at their scheduling points and may resume on
// the other thread: each is still one execution, none is left open, and
// their time is what the reference adds up piece by piece.
TEST_F(real_runtime, untied_recursion_on_two_threads) {
    traced_program run;
    ASSERT_NO_FATAL_FAILURE(run_openmp(run, OMP_UNTIED_FIB_PROGRAM));
    const long tasks = run.reported("tasks");
    ASSERT_EQ(tasks, 12 * 286);  // fib(11) creates 286 tasks; 12 rounds
    SCOPED_TRACE("trace in " + run.dir.path());
    json ref, tool;
    ASSERT_NO_FATAL_FAILURE(analyze_with_reference(run, "openmp", ref, tool));
    ASSERT_EQ(ref.at("explicit_open_at_end"), 0);
    ASSERT_EQ(ref.at("without_dependences").at("executions"), tasks);
    // Suspension always happens; migration usually does (it needs a thread
    // to run dry while the other holds a suspended task).
    EXPECT_GT(ref.at("explicit_pieces").get<long>(), tasks);
    RecordProperty("tasks_resumed_on_another_thread", ref.at("explicit_on_several_threads").get<int>());
    for (const json& note : tool.at("notes"))
        EXPECT_EQ(note.get<std::string>().find("still open"), std::string::npos) << note;
    const json& without = tool.at("tasks_without_dependences");
    EXPECT_EQ(without.at("executions"), tasks);
    EXPECT_EQ(without.at("total_ns"), ref.at("without_dependences").at("total_ns"));
    EXPECT_LE(without.at("total_ns").get<double>(),
              tool.at("threads").get<double>() * tool.at("wall_ns").get<double>());
    expect_concurrency_as_reference_and_check_passes(run, tool, ref);
}

// A oneTBB flow graph: derived node kinds, the async node's work on the
// program's own thread, and the graph of executions (through the queue,
// limiter and sequencer, which never run) as the reference builds it.
TEST_F(real_runtime, flow_graph_pipeline_with_limiter_feedback_and_async_node) {
    traced_program run;
    ASSERT_NO_FATAL_FAILURE(
        run_traced(run, TBB_FLOW_PIPELINE_PROGRAM, "INTEL_LIBITTNOTIFY64=" MVT_LIB_PATH));
    ASSERT_NE(run.child.out.find("ok"), std::string::npos) << run.child.out;
    const long items = run.reported("items");
    SCOPED_TRACE("trace in " + run.dir.path());
    json ref, tool;
    ASSERT_NO_FATAL_FAILURE(analyze_with_reference(run, "flow", ref, tool));

    std::map<std::string, std::string> kind_by_name;
    for (const auto& [id, node] : ref.at("nodes").items())
        kind_by_name[node.at("name").get<std::string>()] = node.at("kind").get<std::string>();
    const std::map<std::string, std::string> declared = {
        {"read", "input_node"},   {"in_flight", "limiter_node"}, {"backlog", "queue_node"},
        {"transform", "function_node"}, {"reorder", "sequencer_node"}, {"offload", "async_node"},
        {"write", "function_node"}};
    ASSERT_EQ(kind_by_name, declared) << "the reference reads the graph wrongly";

    std::map<std::string, json> rows = rows_by_id(tool.at("nodes"));
    for (const auto& [id, node] : ref.at("nodes").items()) {
        SCOPED_TRACE(node.at("name").get<std::string>() + " " + id);
        if (node.at("executions") == 0) {
            EXPECT_EQ(rows.count(id), 0u);
            continue;
        }
        ASSERT_EQ(rows.count(id), 1u);
        const json& row = rows[id];
        EXPECT_EQ(row.at("name"), node.at("name"));
        EXPECT_EQ(row.at("kind"), node.at("kind"));
        EXPECT_EQ(row.at("executions"), node.at("executions"));
        EXPECT_EQ(row.at("total_ns"), node.at("total_ns"));
        if (node.at("kind") == "async_node") {
            // One body execution on a worker and one on the serving thread,
            // through the node's output port, per item.
            EXPECT_EQ(node.at("executions"), 2 * items);
        }
        rows.erase(id);
    }
    EXPECT_TRUE(rows.empty()) << "nodes the graph does not have, first: " << rows.begin()->first;
    for (const char* list : {"nodes", "runtime"}) {
        for (const json& row : tool.at(list)) {
            const std::string kind = row.value("kind", "");
            EXPECT_TRUE(kind != "graph" && kind != "buffer_node" && kind != "multifunction_node") << row;
        }
    }

    const json& graph = tool.at("dependency_graph");
    expect_same_edges(ref.at("edges"), graph.at("edge_list"));
    EXPECT_EQ(graph.at("nodes"), ref.at("nodes").size());
    EXPECT_EQ(graph.at("executions"), ref.at("executions"));
    EXPECT_EQ(graph.at("execution_edges"), ref.at("execution_edges"));
    EXPECT_EQ(graph.at("work_ns"), ref.at("work_ns"));
    EXPECT_EQ(graph.at("span_ns"), ref.at("span_ns"));
    EXPECT_LE(graph.at("span_ns").get<double>(), tool.at("wall_ns").get<double>());
    EXPECT_GE(graph.at("parallelism").get<double>(), tool.at("concurrency").at("tasks").at("average").get<double>());
    expect_concurrency_as_reference_and_check_passes(run, tool, ref);
}

}  // namespace
