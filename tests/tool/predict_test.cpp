// mvt-trace predict as a user runs it: schedules of scripted traces with
// known answers, how --faster finds its label and refuses what it cannot
// find, and a real OpenMP run checked against its own trace.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "tool_run.h"
#include "trace_script.h"

namespace {

using json = nlohmann::json;
using mvt_test::child_result;

const std::string data = MVT_TOOL_DATA;
constexpr std::uint64_t ms = 1000000;

// The scripted run's first process, as a path relative to the directory.
std::string script_run(const std::string& script, const mvt_test::temp_dir& dir) {
    return mvt_tool_test::write_trace_script(script, dir.path()).front().substr(dir.path().size() + 1);
}

json predict_json(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> all = {"predict", "--json"};
    all.insert(all.end(), args.begin(), args.end());
    const child_result r = run_tool(all, cwd);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.exit_code == 0 ? json::parse(r.out) : json::object();
}

std::vector<std::uint64_t> times(const json& result) {
    std::vector<std::uint64_t> t;
    for (const json& row : result["predictions"]) t.push_back(row["time_ns"]);
    return t;
}

// The diamond A(20) -> {B(60), C(30)} -> D(20) ms as a flow graph.
TEST(tool_predict, a_diamond_and_its_faster_variants_give_the_known_schedules) {
    mvt_test::temp_dir dir;
    const std::string run = script_run(mvt_test::read_file(data + "/analyze/diamond.trace"), dir);
    const json r = predict_json({run, "--workers", "8,1,2"}, dir.path());
    EXPECT_EQ(r["recorded_workers"], 2);
    ASSERT_EQ(r["predictions"].size(), 3u);
    EXPECT_EQ(times(r), (std::vector<std::uint64_t>{130 * ms, 100 * ms, 100 * ms}));
    const json& two = r["predictions"][1];
    EXPECT_EQ(two["workers"], 2);
    EXPECT_EQ(two["speedup"], 1.3);
    EXPECT_EQ(two["lower_bound_ns"], 100 * ms);  // the span
    EXPECT_EQ(two["upper_bound_ns"], 165 * ms);  // 130 / 2 + 100
    EXPECT_TRUE(r["faster"].empty());

    // Faster on the critical path shortens the run until C takes over.
    const json b = predict_json({run, "--workers", "2", "--faster", "B=2"}, dir.path());
    EXPECT_EQ(times(b), (std::vector<std::uint64_t>{70 * ms}));
    EXPECT_EQ(b["faster"], (json{{{"label", "B"}, {"factor", 2.0}}}));
    const json both = predict_json({run, "--workers", "2", "--faster", "A=2", "--faster=B=4"}, dir.path());
    EXPECT_EQ(times(both), (std::vector<std::uint64_t>{60 * ms}));
    EXPECT_EQ(both["faster"].size(), 2u);

    // analyze says it in one line and one member.
    const child_result text = run_tool({"analyze", run}, dir.path());
    EXPECT_NE(text.out.find("\nscalability: predicted speedup 1.30 on 8 workers, 1.30 on 64; doubling the workers "
                            "gains under 5 % past 2"),
              std::string::npos)
        << text.out;
    const json analysis = json::parse(run_tool({"analyze", "--json", run}, dir.path()).out);
    const json& s = analysis["scalability"];
    EXPECT_EQ(s["recorded_workers"], 2);
    EXPECT_EQ(s["doubling_gains_under_5_percent_past"], 2);
    std::vector<int> workers;
    for (const json& row : s["predictions"]) workers.push_back(row["workers"]);
    EXPECT_EQ(workers, (std::vector<int>{1, 2, 4, 8, 16, 32, 64}));
}

// Tasks of no graph in two bursts. Within the first, the threads end their
// tasks together and take the next ones 10 us later, the usual hand-out:
// that is no join. Between the bursts nothing ran for 5 ms, a point the
// second burst waited for, which keeps its length.
TEST(tool_predict, tasks_of_no_graph_run_in_phases_parted_where_nothing_ran_for_long) {
    mvt_test::temp_dir dir;
    const std::string run = script_run(R"(thread 0
0 task_begin work 1 0 step
10000us task_end work
10010us task_begin work 2 0 step
20010us task_end work
20020us task_begin work 3 0 step
30020us task_end work
35020us task_begin work 4 0 step
45020us task_end work
thread 1
0 task_begin work 5 0 step
10000us task_end work
10010us task_begin work 6 0 step
20010us task_end work
20020us task_begin work 7 0 step
30020us task_end work
35020us task_begin work 8 0 step
45020us task_end work
)",
                                       dir);
    const json r = predict_json({run, "--workers", "1,2,4,8"}, dir.path());
    EXPECT_EQ(times(r), (std::vector<std::uint64_t>{85 * ms, 45 * ms, 35 * ms, 25 * ms}));
    // Twice as fast, the tasks leave the serial stretch as it was.
    const json faster = predict_json({run, "--workers", "8", "--faster", "step=2"}, dir.path());
    EXPECT_EQ(times(faster), (std::vector<std::uint64_t>{15 * ms}));
}

TEST(tool_predict, faster_takes_a_whole_label_or_the_one_that_holds_it_and_refuses_the_rest) {
    mvt_test::temp_dir dir;
    const std::string run = script_run(R"(thread 0
0 task_group flow 1 0 graph
0 task_group flow 10 1 node
0 task_group flow 11 1 node
0 task_group flow 12 1 node
0 metadata_stringA flow 10 node_name 1 sweep_rows
0 metadata_stringA flow 11 node_name 1 sweep_rows_again
0 metadata_stringA flow 12 node_name 1 reduce
0 task_begin flow 10 0 body
10ms task_end flow
10ms task_begin flow 11 0 body
20ms task_end flow
20ms task_begin flow 12 0 body
50ms task_end flow
)",
                                       dir);
    auto faster = [&](const std::string& what) { return predict_json({run, "--workers", "1", "--faster", what}, dir.path()); };
    EXPECT_EQ(faster("sweep_rows=2")["faster"][0]["label"], "sweep_rows") << "a whole label wins over longer ones";
    EXPECT_EQ(faster("red=3")["faster"][0]["label"], "reduce");
    EXPECT_EQ(times(faster("red=3")), (std::vector<std::uint64_t>{30 * ms}));
    EXPECT_EQ(times(faster("again=0.5")), (std::vector<std::uint64_t>{60 * ms})) << "a factor under 1 slows down";

    struct refusal {
        std::vector<std::string> args;
        std::vector<std::string> said;  // in the one line of the error
    };
    for (const refusal& c : std::vector<refusal>{
             {{"--faster", "sweep=2"}, {"matches several labels", "'sweep_rows'", "'sweep_rows_again'"}},
             {{"--faster", "scan=2"}, {"matches no label", "'reduce'", "'sweep_rows'"}},
             {{"--faster", "reduce"}, {"LABEL=FACTOR"}},
             {{"--faster", "reduce=0"}, {"LABEL=FACTOR"}},
             {{"--faster", "reduce=fast"}, {"LABEL=FACTOR"}},
             {{"--faster", "=2"}, {"LABEL=FACTOR"}},
             {{"--workers", "0"}, {"--workers"}},
             {{"--workers", "1,,4"}, {"--workers"}},
             {{"--workers", "4,x"}, {"--workers"}},
         }) {
        std::vector<std::string> args = {"predict", run};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const child_result r = run_tool(args, dir.path());
        EXPECT_EQ(r.exit_code, 2) << c.args.back();
        EXPECT_TRUE(r.out.empty()) << c.args.back();
        EXPECT_EQ(r.err.rfind("mvt-trace: predict: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        for (const std::string& piece : c.said) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    }
}

// A real run: checked against the trace's own numbers, never against the
// clock, since sleeping tasks last longer on a loaded machine.
TEST(tool_predict, diamond_of_openmp_tasks_on_libomp_is_predicted_from_its_own_trace) {
#ifdef MVT_UNDER_TSAN
    GTEST_SKIP() << "libomp is not instrumented for ThreadSanitizer";
#endif
    mvt_test::temp_dir dir;
    const child_result program = mvt_test::run_child(
        {OMP_DIAMOND_PROGRAM}, {"", {"MVA_DIR=" + dir.path(), "OMP_TOOL_LIBRARIES=" MVT_LIB_PATH, "OMP_TOOL=enabled"},
                                {"OMP_NUM_THREADS"}, 120});
    ASSERT_EQ(program.exit_code, 0) << program.out << program.err;
    const json analysis = json::parse(run_tool({"analyze", "--json", dir.path()}).out);
    const std::uint64_t work = analysis["dependency_graph"]["work_ns"], span = analysis["dependency_graph"]["span_ns"];
    const std::uint64_t wall = analysis["wall_ns"];
    const json r = predict_json({dir.path()}, "");
    EXPECT_EQ(r["recorded_workers"], 2);
    ASSERT_EQ(r["predictions"].size(), 7u);
    for (const json& row : r["predictions"]) {
        EXPECT_GE(row["time_ns"].get<std::uint64_t>(), row["lower_bound_ns"].get<std::uint64_t>()) << row;
        EXPECT_GE(row["lower_bound_ns"].get<std::uint64_t>(), span) << row;
    }
    const std::vector<std::uint64_t> t = times(r);
    // One worker runs all the work; two run the diamond's branches side by
    // side, and more find nothing more to do.
    EXPECT_GE(t[0], work);
    EXPECT_LT(t[1], t[0]);
    EXPECT_EQ(t[1], t[6]);
    // On the recorded number of workers, about what the run took.
    EXPECT_NEAR(static_cast<double>(t[1]), static_cast<double>(wall), 0.25 * static_cast<double>(wall));
    // Each task is a construct of its own; the heaviest (60 ms, on the
    // critical path) twice as fast saves some 30 ms, C taking its place.
    const std::string heaviest = analysis["constructs"][0]["label"];
    const json faster = predict_json({dir.path(), "--workers", "2", "--faster", heaviest + "=2"}, "");
    EXPECT_EQ(faster["faster"][0]["label"], heaviest);
    EXPECT_LT(times(faster)[0] + 20 * ms, t[1]);
    EXPECT_GT(times(faster)[0] + 40 * ms, t[1]);
}

}  // namespace
