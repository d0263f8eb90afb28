// mvt-trace analyze and predict on golden traces written as scripts
// (data/analyze), one per rule of the model, and on two real runs: an
// OpenMP program on libomp and a flow graph declared through the __itt_* API.
#include <gtest/gtest.h>

#include <algorithm>
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

// Writes data/analyze/NAME.trace into `dir` and analyses it there.
json analyze_script(const std::string& name, const mvt_test::temp_dir& dir) {
    const std::string script = mvt_test::read_file(data + "/analyze/" + name + ".trace");
    return tool_json(joined({"analyze", "--json"}, mvt_tool_test::write_trace_script_here(script, dir.path())),
                     dir.path());
}

// Each row of `list` as its `keys`' values, in order, apart by blanks.
std::vector<std::string> rows(const json& list, const std::vector<const char*>& keys) {
    std::vector<std::string> lines;
    for (const json& row : list) {
        std::string line;
        for (const char* key : keys) {
            const json value = row.contains(key) ? row[key] : json();  // null when left out
            line += (line.empty() ? "" : " ") + (value.is_string() ? value.get<std::string>() : value.dump());
        }
        lines.push_back(line);
    }
    return lines;
}

// The dependency graph's counts and times, its paths aside.
json graph_counts(json result) {
    json graph = result["dependency_graph"];
    graph.erase("critical_path");
    graph.erase("critical_path_by_node");
    return graph;
}

json predict_json(const std::vector<std::string>& args, const std::string& cwd) {
    return tool_json(joined({"predict", "--json"}, args), cwd);
}

std::vector<std::uint64_t> times(const json& result) {
    std::vector<std::uint64_t> t;
    for (const json& row : result["predictions"]) t.push_back(row["time_ns"]);
    return t;
}

using lines = std::vector<std::string>;

TEST(tool_analyze, diamond_declared_through_the_api_gives_the_known_answers_and_predictions) {
    mvt_test::temp_dir dir;
    const json r = analyze_script("diamond", dir);
    // The text report, whole; the JSON gives the same under the README's names.
    EXPECT_EQ(run_tool({"analyze", "p0"}, dir.path()).out, mvt_test::read_file(data + "/expected/analyze_diamond.txt"));
    EXPECT_EQ(graph_counts(r), json::parse(R"({"nodes": 4, "edges": 4, "edges_complete": true, "executions": 4,
        "execution_edges": 4, "work_ns": 130000000, "span_ns": 100000000, "parallelism": 1.3})"));
    EXPECT_EQ(r["dependency_graph"]["critical_path"][1], json::parse(R"({"id": "11.0.0", "process": 0, "name": "B",
        "label": "B", "instance": 1, "begin_ns": 20000000, "duration_ns": 60000000})"));
    EXPECT_EQ(rows(r["dependency_graph"]["critical_path"], {"name"}), (lines{"A", "B", "D"}));
    EXPECT_EQ(r["nodes"][0], json::parse(R"({"id": "11.0.0", "process": 0, "name": "B", "label": "B", "kind": "node",
        "executions": 1, "total_ns": 60000000, "mean_ns": 60000000, "stddev_ns": 0, "min_ns": 60000000,
        "p50_ns": 60000000, "p95_ns": 60000000, "max_ns": 60000000})"));
    EXPECT_EQ(r["wall_ns"], 100 * ms);
    EXPECT_EQ(r["threads"], 2);
    const json& c = r["concurrency"];
    EXPECT_EQ(c["time_at_ns"], (json{{"0", 0}, {"1", 70 * ms}, {"2", 30 * ms}}));
    EXPECT_EQ(c["average"], 1.3);
    EXPECT_EQ(c["max"], 2);
    EXPECT_EQ(c["series"]["bucket_ns"], 100 * ms / 1000);
    ASSERT_EQ(c["series"]["mean"].size(), 1000u);
    EXPECT_EQ(c["series"]["mean"][0], 1.0);    // A alone
    EXPECT_EQ(c["series"]["mean"][300], 2.0);  // B and C
    EXPECT_TRUE(r["unattached"].empty() && r["problems"].empty()) << r;

    // Predicted: the work on one worker, the span from two on, in analyze
    // and in predict, with the bounds on two of 100 (the span) and 130 / 2 + 100.
    const json& s = r["scalability"];
    EXPECT_EQ(s["recorded_workers"], 2);
    EXPECT_EQ(s["doubling_gains_under_5_percent_past"], 2);
    EXPECT_EQ(rows(s["predictions"], {"workers", "time_ns"}),
              (lines{"1 130000000", "2 100000000", "4 100000000", "8 100000000", "16 100000000", "32 100000000",
                     "64 100000000"}));
    const json p = predict_json({"p0", "--workers", "8,1,2"}, dir.path());
    EXPECT_EQ(p["recorded_workers"], 2);
    EXPECT_EQ(p["predictions"], json::array({s["predictions"][0], s["predictions"][1], s["predictions"][3]}));
    EXPECT_EQ(p["predictions"][1], json::parse(R"({"workers": 2, "time_ns": 100000000, "speedup": 1.3,
                                                   "lower_bound_ns": 100000000, "upper_bound_ns": 165000000})"));
    EXPECT_TRUE(p["faster"].empty());
    // Faster on the critical path shortens the run until C takes over.
    const json b = predict_json({"p0", "--workers", "2", "--faster", "B=2"}, dir.path());
    EXPECT_EQ(times(b), (std::vector<std::uint64_t>{70 * ms}));
    EXPECT_EQ(b["faster"], (json{{{"label", "B"}, {"factor", 2.0}}}));
    const json both = predict_json({"p0", "--workers", "2", "--faster", "A=2", "--faster=B=4"}, dir.path());
    EXPECT_EQ(times(both), (std::vector<std::uint64_t>{60 * ms}));
    EXPECT_EQ(both["faster"].size(), 2u);
}

TEST(tool_analyze, each_execution_goes_to_the_node_of_the_first_rule_that_applies) {
    mvt_test::temp_dir dir;
    const json r = analyze_script("attachment", dir);
    // by_id: its own, and the work under its port; node: the OpenMP task
    // node 5.1.0, with the code address said of the task {5,0,0}; group:
    // rule 3 outside the OpenMP model.
    lines nodes = rows(r["nodes"], {"name", "id", "executions", "total_ns", "code_address"});
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(nodes, (lines{"by_child_of 20.0.0 2 5000000 null", "by_id 10.0.0 2 2000000 null",
                            "by_parent_of 21.0.0 1 1000000 null", "group 30.0.0 1 1000000 null",
                            "node 5.1.0 1 4000000 0xbee"}));
    // Nearest ranks of two durations, within the sketch's 1%: the median is
    // the lower, p95 the higher.
    const json& two = r["nodes"][0];  // by_child_of, the longest
    EXPECT_NEAR(two["p50_ns"].get<double>(), 2e6, 2e4);
    EXPECT_NEAR(two["p95_ns"].get<double>(), 3e6, 3e4);
    EXPECT_EQ(two["stddev_ns"], ms / 2);
    // Where a graph is declared, what no node claims is the runtime's own.
    EXPECT_TRUE(r["unattached"].empty());
    EXPECT_EQ(rows(r["runtime"], {"name"}), (lines{"orphan"}));
}

// Edges through ports and undeclared vertices; a graph that loops is no
// problem; processes with the same identifiers are kept apart.
TEST(tool_analyze, edges_run_through_ports_vertices_loops_and_stay_within_their_process) {
    struct graph_case {
        const char* name;
        json counts;
        lines path;  // name id duration
    };
    const std::vector<graph_case> cases = {
        {"edges", json::parse(R"({"nodes": 7, "edges": 6, "edges_complete": true, "executions": 2,
            "execution_edges": 1, "work_ns": 4000000, "span_ns": 4000000, "parallelism": 1.0})"),
         {"A 10.0.0 1000000", "C 12.0.0 3000000"}},
        {"cycle", json::parse(R"({"nodes": 4, "edges": 4, "edges_complete": true, "executions": 4,
            "execution_edges": 3, "work_ns": 10000000, "span_ns": 10000000, "parallelism": 1.0})"),
         {"node 10.0.0 1000000", "node 11.0.0 2000000", "node 12.0.0 3000000", "node 13.0.0 4000000"}},
        {"two_processes", json::parse(R"({"nodes": 2, "edges": 1, "edges_complete": true, "executions": 3,
            "execution_edges": 1, "work_ns": 8000000, "span_ns": 5000000, "parallelism": 1.6})"),
         {"second 10.0.0 4000000", "node 11.0.0 1000000"}},
    };
    for (const graph_case& c : cases) {
        mvt_test::temp_dir dir;
        const json r = analyze_script(c.name, dir);
        EXPECT_EQ(graph_counts(r), c.counts) << c.name;
        EXPECT_EQ(rows(r["dependency_graph"]["critical_path"], {"name", "id", "duration_ns"}), c.path) << c.name;
        EXPECT_TRUE(r["problems"].empty()) << c.name << r["problems"];
        if (std::string(c.name) != "two_processes") continue;
        EXPECT_EQ(r["processes"], json::parse(R"([{"directory": "p0", "files": 1, "threads": 1, "records": 8},
                                                  {"directory": "p1", "files": 1, "threads": 1, "records": 12}])"));
        EXPECT_EQ(rows(r["nodes"], {"name", "process", "id"}), (lines{"second 1 10.0.0", "first 0 10.0.0", "node 1 11.0.0"}));
        EXPECT_EQ(r["threads"], 2);
        EXPECT_EQ(r["concurrency"]["time_at_ns"], (json{{"0", 0}, {"1", 6 * ms}, {"2", 1 * ms}}));
    }
}

TEST(tool_analyze, executions_that_never_close_are_reported_not_guessed) {
    mvt_test::temp_dir dir;
    const json r = analyze_script("unpaired", dir);
    // The inner one of 10.0.0; the outer never closed.
    EXPECT_EQ(rows(r["nodes"], {"id", "executions", "total_ns"}), (lines{"11.0.0 1 4000000", "10.0.0 1 2000000"}));
    // Executions still open have no duration: they are in no sum.
    EXPECT_EQ(r["dependency_graph"]["work_ns"], 6 * ms);
    // Nor do they keep a thread busy; regions never do.
    EXPECT_EQ(r["concurrency"]["time_at_ns"], (json{{"0", 15 * ms}, {"1", 4 * ms}, {"2", 1 * ms}}));
    EXPECT_EQ(r["problems"], (json{"p0/_mvt.0: 2 executions of graph nodes still open at the end of the file",
                                   "p0/_mvt.1:42: truncated: the file ends where it should have \"<record>\" (or an "
                                   "end_of_records record before \"</trace>\")",
                                   "p0: identifier 11.0.0 declared as \"node\" and as \"input_port_0\""}));
    // A region begun twice under one identifier is two regions; the end
    // closes the later.
    EXPECT_EQ(r["notes"], (json{"p0/_mvt.0: 1 task_end record with no task execution open",
                                "p0/_mvt.0: 2 regions still open at the end of the file",
                                "p0/_mvt.0: 1 region_end record with no such region open"}));
}

TEST(tool_analyze, a_location_that_thousands_write_and_read_is_not_expanded_into_every_pair) {
    // 3000 tasks write one location and 3000 read it: 9 million edges once
    // expanded, past what the model expands. The expansion stops and says
    // so, in bounded time and memory; the edge count is a lower bound.
    constexpr int writers = 3000, readers = 3000;
    std::string script = "thread 0\n";
    for (int i = 0; i < writers + readers; ++i) script += "0 task_group flow " + std::to_string(10 + i) + " 0 node\n";
    for (int i = 0; i < writers; ++i) script += "0 relation flow " + std::to_string(10 + i) + " predecessor_to 5\n";
    for (int i = 0; i < readers; ++i)
        script += "0 relation flow 5 predecessor_to " + std::to_string(10 + writers + i) + "\n";
    std::uint64_t now = 0, work = 0;
    for (int i = 0; i < writers + readers; ++i) {
        const std::uint64_t duration = i < writers ? 1 + i % 7 : 2 + i % 5;  // longest: 7 and 6
        script += std::to_string(now) + " task_begin flow " + std::to_string(10 + i) + " 0 run\n";
        now += duration;
        work += duration;
        script += std::to_string(now) + " task_end flow\n";
    }
    mvt_test::temp_dir dir;
    mvt_tool_test::write_trace_script(script, dir.path());
    const json graph = tool_json({"analyze", "--json", "p0"}, dir.path())["dependency_graph"];
    EXPECT_LE(graph["nodes"], writers + readers);
    EXPECT_EQ(graph["work_ns"], work);
    EXPECT_EQ(graph["span_ns"], 13);
    EXPECT_EQ(rows(graph["critical_path"], {"duration_ns"}), (lines{"7", "6"}));
    EXPECT_GE(graph["edges"], 1000000);
    EXPECT_LT(graph["edges"], writers * readers);
    EXPECT_FALSE(graph["edges_complete"]);
}

// The tasks sleep: each lasts its time plus the scheduler's delay, which
// under load or a sanitizer may reach tens of milliseconds. predict is
// checked against the trace's own numbers, never against the clock.
TEST(tool_analyze, diamond_of_openmp_tasks_on_libomp_gives_the_known_answers_and_predictions) {
    MVT_SKIP_UNDER_TSAN();
    mvt_test::temp_dir dir;
    const child_result run = run_openmp_traced(OMP_DIAMOND_PROGRAM, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    const json r = tool_json({"analyze", "--json", dir.path()});
    const json& graph = r["dependency_graph"];
    const auto near = [](const json& value, std::uint64_t expected) {
        return value.get<std::uint64_t>() >= expected && value.get<std::uint64_t>() < expected + 40 * ms;
    };
    EXPECT_EQ(graph["nodes"], 4);
    EXPECT_EQ(graph["edges"], 4);
    EXPECT_TRUE(near(graph["work_ns"], 130 * ms)) << graph;
    EXPECT_TRUE(near(graph["span_ns"], 100 * ms)) << graph;
    ASSERT_EQ(rows(graph["critical_path"], {"name"}), (lines{"node", "node", "node"})) << graph;
    const std::uint64_t path_ms[] = {20, 60, 20};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(near(graph["critical_path"][i]["duration_ns"], path_ms[i] * ms)) << graph;
    // Each task node has its one execution and the code address of its task.
    int task_nodes = 0;
    for (const json& node : r["nodes"]) {
        if (node["kind"] != "node") continue;
        ++task_nodes;
        EXPECT_EQ(node["executions"], 1);
        EXPECT_EQ(node["code_address"].get<std::string>().rfind("0x", 0), 0u);
    }
    EXPECT_EQ(task_nodes, 4);

    const std::uint64_t work = graph["work_ns"], span = graph["span_ns"], wall = r["wall_ns"];
    const json p = predict_json({dir.path()}, "");
    EXPECT_EQ(p["recorded_workers"], 2);
    const std::vector<std::uint64_t> t = times(p);
    for (const json& row : p["predictions"]) {
        EXPECT_GE(row["time_ns"].get<std::uint64_t>(), row["lower_bound_ns"].get<std::uint64_t>()) << row;
        EXPECT_GE(row["lower_bound_ns"].get<std::uint64_t>(), span) << row;
    }
    ASSERT_EQ(t.size(), 7u);
    // One worker runs all the work; two run the diamond's branches side by
    // side, about as long as the run took, and more find nothing more to do.
    EXPECT_GE(t[0], work);
    EXPECT_LT(t[1], t[0]);
    EXPECT_EQ(t[1], t[6]);
    EXPECT_NEAR(static_cast<double>(t[1]), static_cast<double>(wall), 0.25 * static_cast<double>(wall));
    // Each task is a construct of its own; the heaviest (60 ms, on the
    // critical path) twice as fast saves some 30 ms, C taking its place.
    const std::string heaviest = r["constructs"][0]["label"];
    const json faster = predict_json({dir.path(), "--workers", "2", "--faster", heaviest + "=2"}, "");
    EXPECT_EQ(faster["faster"][0]["label"], heaviest);
    EXPECT_LT(times(faster).at(0) + 20 * ms, t[1]);
    EXPECT_GT(times(faster).at(0) + 40 * ms, t[1]);
}

TEST(tool_analyze, pipeline_declared_through_the_api_shows_each_stage_with_its_executions) {
    mvt_test::temp_dir dir;
    const child_result run = mvt_test::run_child({FLOW_PIPELINE_PROGRAM}, {"", {"MVA_DIR=" + dir.path()}, {}, 120});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json r = tool_json({"analyze", "--json", dir.path()});
    lines stages = rows(r["nodes"], {"name", "kind", "executions"});
    std::sort(stages.begin(), stages.end());
    EXPECT_EQ(stages, (lines{"read function_node 50", "scale function_node 50", "write function_node 50"}));
    const json& graph = r["dependency_graph"];
    EXPECT_EQ(json::array({graph["nodes"], graph["edges"], graph["executions"]}), json::array({3, 2, 150}));
    // The stages run side by side, so which executions wait for which
    // depends on the run; the path goes through the stages in order and
    // fits in the run.
    const lines path = rows(graph["critical_path"], {"name"});
    EXPECT_TRUE(std::is_sorted(path.begin(), path.end())) << graph;  // read, scale, write
    EXPECT_LE(graph["span_ns"].get<std::uint64_t>(), r["wall_ns"].get<std::uint64_t>());
    EXPECT_TRUE(r["unattached"].empty() && r["problems"].empty()) << r["problems"];
}

// predict as a user runs it: schedules of scripted traces with known answers,
// and how --faster finds its label and refuses what it cannot find.

// Tasks of no graph in two bursts, on two threads alike. Within the first,
// the threads end their tasks together and take the next ones 10 us later,
// the usual hand-out: that is no join. Between the bursts nothing ran for
// 5 ms, a point the second burst waited for, which keeps its length.
TEST(tool_predict, tasks_of_no_graph_run_in_phases_parted_where_nothing_ran_for_long) {
    std::string script;
    for (int thread = 0, task = 1; thread < 2; ++thread) {
        script += "thread " + std::to_string(thread) + "\n";
        for (int begin : {0, 10010, 20020, 35020})
            script += std::to_string(begin) + "us task_begin work " + std::to_string(task++) + " 0 step\n" +
                      std::to_string(begin + 10000) + "us task_end work\n";
    }
    mvt_test::temp_dir dir;
    const std::string run = mvt_tool_test::write_trace_script_here(script, dir.path()).front();
    const json r = predict_json({run, "--workers", "1,2,4,8"}, dir.path());
    EXPECT_EQ(times(r), (std::vector<std::uint64_t>{85 * ms, 45 * ms, 35 * ms, 25 * ms}));
    // Twice as fast, the tasks leave the serial stretch as it was.
    const json faster = predict_json({run, "--workers", "8", "--faster", "step=2"}, dir.path());
    EXPECT_EQ(times(faster), (std::vector<std::uint64_t>{15 * ms}));
}

TEST(tool_predict, faster_takes_a_whole_label_or_the_one_that_holds_it_and_refuses_the_rest) {
    // Three nodes one after another: 10, 10 and 30 ms.
    const char* const names[] = {"sweep_rows", "sweep_rows_again", "reduce"};
    std::string script = "thread 0\n0 task_group flow 1 0 graph\n";
    for (int n = 0; n < 3; ++n)
        script += "0 task_group flow 1" + std::to_string(n) + " 1 node\n0 metadata_stringA flow 1" + std::to_string(n) +
                  " node_name 1 " + names[n] + "\n";
    script += "0 task_begin flow 10 0 body\n10ms task_end flow\n10ms task_begin flow 11 0 body\n20ms task_end flow\n"
              "20ms task_begin flow 12 0 body\n50ms task_end flow\n";
    mvt_test::temp_dir dir;
    const std::string run = mvt_tool_test::write_trace_script_here(script, dir.path()).front();
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
        const child_result r = run_tool(joined({"predict", run}, c.args), dir.path());
        EXPECT_EQ(r.exit_code, 2) << c.args.back();
        EXPECT_TRUE(r.out.empty()) << c.args.back();
        EXPECT_TRUE(one_error_line(r) && r.err.rfind("mvt-trace: predict: ", 0) == 0) << r.err;
        for (const std::string& piece : c.said) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    }
}

}  // namespace
