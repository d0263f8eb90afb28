#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "reading/recorded_run.h"
#include "tool_run.h"
#include "trace_script.h"
#include "trace_text.h"

namespace {

using mvt_test::child_result;

const std::string data = MVT_TOOL_DATA;

// Runs mvt-trace in the data directory, so that paths in its output are the
// short relative ones of the expected files.
std::string expected(const std::string& name) { return mvt_test::read_file(data + "/expected/" + name); }

bool have_program(const std::string& name) {
    return mvt_test::run_child({"/bin/sh", "-c", "command -v " + name}, {}).exit_code == 0;
}

// Runs python3 with `args` (check_outputs.py or a script of its own), which
// must exit with status 0.
void expect_python(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/env", "python3"};
    argv.insert(argv.end(), args.begin(), args.end());
    const child_result r = mvt_test::run_child(argv, {});
    EXPECT_EQ(r.exit_code, 0) << args.at(0) << " " << args.at(1) << ": " << r.out << r.err;
}

// check and summary on a whole run, on one cut short by a crash (still
// summarised, with a warning each) and on a malformed one; check of one file.
TEST(tool_commands, check_and_summary_match_the_hand_checked_reports) {
    struct report_case {
        std::string command, dir;
        int status;
        std::string expected_file, err;  // err: the warning it gives, "" for none
    };
    for (const report_case& c : std::vector<report_case>{
             {"check", "openmp_run", 0, "check_openmp_run.txt", ""},
             {"check", "truncated", 1, "check_truncated.txt", ""},
             {"check", "malformed", 1, "check_malformed.txt", ""},
             {"summary", "openmp_run", 0, "summary_openmp_run.txt", ""},
             {"summary", "truncated", 0, "summary_truncated.txt", "warning: truncated/_mvt.1:87: truncated"},
             {"summary", "malformed", 1, "", "malformed/_mvt.5:12: malformed"}}) {
        const child_result r = run_tool({c.command, c.dir}, data);
        EXPECT_EQ(r.exit_code, c.status) << c.command << " " << c.dir << r.err;
        EXPECT_EQ(r.out, c.expected_file.empty() ? r.out : expected(c.expected_file)) << c.command << " " << c.dir;
        EXPECT_TRUE(c.err.empty() ? r.err.empty() : r.err.find(c.err) != std::string::npos) << r.err;
    }
    const child_result one = run_tool({"check", "truncated/_mvt.2"}, data);
    EXPECT_EQ(one.exit_code, 0);
    EXPECT_EQ(one.out, "truncated/_mvt.2: whole, 1 whole record\n1 file: 1 whole\n");
}

// Directories written by hand: each case is a set of files and what check
// must say of them, line by line after the per-file lines.
TEST(tool_commands, check_judges_a_directory_as_one_run) {
    using namespace trace_text;
    const std::uint64_t t = 1796347852000000000;  // the newest run's exit
    const std::string work = task_begin(t - 900, 5, 42) + task_end(t - 800);
    struct check_case {
        std::string what;
        std::vector<std::pair<std::string, std::string>> files;  // name, content
        int status;
        std::vector<std::string> verdict;
    };
    const std::vector<check_case> cases = {
        {"files left from a longer earlier run",
         {{"_mvt.0", file(work, t)}, {"_mvt.1", file("", t + 3000)}, {"_mvt.2", file(work, t - 37000000000)},
          {"_mvt.3", file("", t - 36000000000)}},
         1,
         {"not one run: _mvt.2 and _mvt.3 end up to 37.000 s before the other files: left from an earlier run in the "
          "same directory."}},
        {"a crashed earlier run's file, a gap and another machine's header",
         {{"_mvt.0", file(work, t)}, {"_mvt.2", file(work, t, 4)},
          {"_mvt.3", file(task_begin(t - 50000000000, 7, 42), 0, 4)}},
         1,
         {"not one run: the file headers differ: _mvt.0 says hardware_concurrency=2; _mvt.2 and _mvt.3 say "
          "hardware_concurrency=4.",
          "not one run: _mvt.1 is missing: a run numbers its files from _mvt.0 without gaps.",
          "not one run: _mvt.3 ends up to 50.000 s before the other files: left from an earlier run in the same "
          "directory."}},
        {"runtime quirks in whole files are notes; a region may end on another thread",
         {{"_mvt.0", file(task_end(t - 990) + region_begin(t - 980, 9, 43) + task_begin(t - 970, 5, 42), t)},
          {"_mvt.1", file(region_end(t - 960, 9) + region_end(t - 950, 8), t + 10)}},
         0,
         {"note: _mvt.0: 1 execution of no node still open at the end of the file",
          "note: _mvt.0: 1 task_end record with no task execution open",
          "note: _mvt.1: 1 region_end record with no such region open",
          "note: 2 name handles are used without a record naming them, shown as \"(unnamed 0x...)\": the runtime "
          "created its names before it loaded the library, as an instrumented runtime's compiled-in part does when "
          "it binds the collector late"}},
        {"nothing recorded",
         {{"_mvt.0", file("", t)}, {"_mvt.1", file("", t + 10)}},
         0,
         {"nothing was recorded: no thread of the program called the library."}},
    };
    for (const check_case& c : cases) {
        mvt_test::temp_dir dir;
        for (const auto& [name, content] : c.files) mvt_test::write_file(dir / name, content);
        child_result r = run_tool({"check", dir.path()}, data);
        EXPECT_EQ(r.exit_code, c.status) << c.what << "\n" << r.out;
        for (std::size_t at; (at = r.out.find(dir.path() + "/")) != std::string::npos;)
            r.out.erase(at, dir.path().size() + 1);
        // The verdict follows the line of totals.
        const std::size_t total = r.out.find(" files: ");
        ASSERT_NE(total, std::string::npos) << r.out;
        std::string verdict;
        for (const std::string& line : c.verdict) verdict += line + "\n";
        EXPECT_EQ(r.out.substr(r.out.find('\n', total) + 1, verdict.size()), verdict) << c.what << "\n" << r.out;
    }
}

// The outputs of a whole run pass the structural checks of check_outputs.py;
// those of a run cut short still parse.
TEST(tool_commands, chrome_json_and_timeline_svg_parse_back_with_what_they_show) {
    if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
    mvt_test::temp_dir out;
    for (const std::string dir : {"openmp_run", "truncated"}) {
        ASSERT_EQ(run_tool({"chrome", dir, "-o", out / (dir + ".json")}, data).exit_code, 0);
        ASSERT_EQ(run_tool({"timeline", dir, "-o", out / (dir + ".svg"), "--width", "1200"}, data).exit_code, 0);
    }
    expect_python({MVT_TOOL_CHECKS, "chrome", out / "openmp_run.json"});
    expect_python({MVT_TOOL_CHECKS, "timeline", out / "openmp_run.svg"});
    const std::string parse = "import json,sys,xml.etree.ElementTree as E; json.load(open(sys.argv[1])); E.parse(sys.argv[2])";
    expect_python({"-c", parse, out / "truncated.json", out / "truncated.svg"});

    // Two directories, two processes: each named, their events merged in
    // time order, the open executions of the file cut short ended with it.
    ASSERT_EQ(run_tool({"chrome", "openmp_run", "truncated", "-o", out / "two.json"}, data).exit_code, 0);
    const std::string two =
        "import json,sys\n"
        "e=json.load(open(sys.argv[1]))['traceEvents']\n"
        "names={x['pid']:x['args']['name'] for x in e if x.get('name')=='process_name'}\n"
        "assert names=={1:'openmp_run',2:'truncated'}, names\n"
        "t=[x['ts'] for x in e if x['ph']!='M']\n"
        "assert t==sorted(t), 'time order'\n"
        "assert all(x['dur']>=0 for x in e if x['ph']=='X'), 'every slice has a length'\n"
        "assert any(x.get('args',{}).get('open_at_end') for x in e if x['pid']==2), 'open at the end'\n";
    expect_python({"-c", two, out / "two.json"});
}

TEST(tool_commands, dot_draws_regions_as_boxes_and_tasks_with_their_dependences) {
    mvt_test::temp_dir out;
    ASSERT_EQ(run_tool({"dot", "openmp_run", "-o", out / "graph.dot"}, data).exit_code, 0);
    EXPECT_EQ(mvt_test::read_file(out / "graph.dot"), expected("dot_openmp_run.dot"));
    // Capped, the critical path's nodes stay first, the heavier first.
    const std::string capped = run_tool({"dot", "openmp_run", "--max-nodes", "1"}, data).out;
    EXPECT_NE(capped.find("label=\"1 of 2 nodes drawn"), std::string::npos) << capped;
    EXPECT_NE(capped.find("n8 [id=\"node-0\""), std::string::npos) << capped;  // the heavier of the path's
    EXPECT_EQ(capped.find("n7 ["), std::string::npos) << capped;
    EXPECT_EQ(capped.find("omp_parallel"), std::string::npos) << capped;
}

// What each kind of graph becomes, in the DOT text: which boxes hold what,
// in which order, and where edges go.
TEST(tool_commands, dot_draws_each_kind_of_graph_by_its_rules) {
    struct dot_case {
        std::string what, script;
        std::vector<std::string> options;
        std::vector<std::string> in_order;  // appear in this order
        std::vector<std::string> absent;
    };
    const std::string flow =
        "thread 0\n0 task_group flow 1 0 graph\n0 task_group flow 10 1 A\n0 task_group flow 11 1 B\n"
        "0 task_group flow 10.1 10 output_port_0\n0 task_group flow 11.1 11 input_port_0\n"
        "0 relation flow 10.1 predecessor_to 11.1\n";
    const std::vector<dot_case> cases = {
        {"a flow graph: ports hidden, edges node to node", flow, {},
         {"subgraph cluster_0 {", "label=\"graph\"", "n1 [label=\"A\"", "n2 [label=\"B\"", "}", "n1 -> n2;"},
         {"port"}},
        {"the same with --ports: cells, and the edge from port to port", flow, {"--ports"},
         {"n1 [shape=plain", "port=\"p3\"", "n2 [shape=plain", "port=\"p4\"", "n1:p3:e -> n2:p4:w;"},
         {"n1 -> n2;"}},
        {"OpenMP regions in the order they began, not as declared; tasks in their region's box; a region "
         "without tasks a node of its own",
         "thread 0\n5ms task_group openmp 300.1 19 composite_node\n5ms task_group openmp 300 0 omp_parallel\n"
         "5ms task_begin openmp 300 0 omp_parallel\n5ms task_group openmp 301 300 omp_implicit\n"
         "5ms task_begin openmp 301 300 omp_implicit\n5ms task_group openmp 302.1 301 node\n"
         "5ms task_group openmp 303.1 301 node\n5ms relation openmp 302.1 predecessor_to 9\n"
         "5ms relation openmp 9 predecessor_to 303.1\n"
         "5100us task_begin openmp 302 0 omp_explicit\n5200us task_end openmp\n"
         "5200us task_begin openmp 303 0 omp_explicit\n5300us task_end openmp\n6ms task_end openmp\n"
         "6ms task_end openmp\nthread 1\n1ms task_group openmp 100.1 19 composite_node\n"
         "1ms task_group openmp 100 0 omp_parallel\n1ms task_begin openmp 100 0 omp_parallel\n2ms task_end openmp\n",
         {},
         {"n0 [label=\"region 1: parallel region\\n1.000 ms\"", "subgraph cluster_2 {", "region 2: parallel region",
          "n5 [id=", "n6 [id=", "}", "gate2", "n5 -> n6", "n0 -> gate2 [style=invis]", "gate2 -> n5 [style=invis]"},
         {"omp_implicit", "omp_parallel", "composite_node", "gate1"}},
    };
    for (const dot_case& c : cases) {
        mvt_test::temp_dir dir;
        const std::vector<std::string> processes = mvt_tool_test::write_trace_script(c.script, dir.path());
        child_result r = run_tool(joined({"dot", processes.at(0)}, c.options), data);
        ASSERT_EQ(r.exit_code, 0) << c.what << r.err;
        std::size_t at = 0;
        for (const std::string& part : c.in_order) {
            const std::size_t found = r.out.find(part, at);
            EXPECT_NE(found, std::string::npos) << c.what << ": " << part << " after " << at << "\n" << r.out;
            if (found != std::string::npos) at = found + part.size();
        }
        for (const std::string& part : c.absent) EXPECT_EQ(r.out.find(part), std::string::npos) << c.what << ": " << part;
    }
}

TEST(tool_commands, names_with_markup_and_line_feeds_keep_every_output_parseable) {
    if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
    mvt_test::temp_dir run;
    const std::string name = "<a&\"b'>\\\nsecond line\x01";
    using namespace trace_text;
    const std::string named = field(1) + id(3) + id(3) + field(42);  // domain, task, parent, name
    const std::string text = field(1) + id(3) + field(42) + field(name.size()) + field(name);
    mvt_test::write_file(run / "_mvt.0", file(string_handle(10, 42, name) + record("task_group", 20, named) +
                                                  record("task_begin", 30, named + field(0)) +
                                                  record("metadata_stringA", 40, text) + task_end(90),
                                              99, 1));
    mvt_test::temp_dir out;  // never inside the input directory
    for (const char* command : {"chrome", "timeline", "dot", "summary"})
        ASSERT_EQ(run_tool({command, run.path(), "-o", out / command}, data).exit_code, 0) << command;
    const std::string parse =
        "import json,sys,xml.etree.ElementTree as E\n"
        "d=json.load(open(sys.argv[1]))\n"
        "assert any(e.get('name')==sys.argv[3] for e in d['traceEvents']), 'name lost'\n"
        "assert any(e.get('args',{}).get('metadata.'+sys.argv[3])==sys.argv[3] for e in d['traceEvents'] if e['ph']=='X'), 'metadata lost'\n"
        "E.parse(sys.argv[2])\n";
    expect_python({"-c", parse, out / "chrome", out / "timeline", name});
    EXPECT_NE(mvt_test::read_file(out / "summary").find("second line"), std::string::npos);
    if (!have_program("dot")) GTEST_SKIP() << "Graphviz is not installed";
    child_result rendered = mvt_test::run_child({"/usr/bin/env", "dot", "-Tsvg", "-o", out / "g.svg", out / "dot"}, {});
    EXPECT_EQ(rendered.exit_code, 0) << rendered.err;
}

// The report's data object, as the page reads it, checked by check_outputs.py.
TEST(tool_commands, report_embeds_the_run_and_caps_what_it_embeds) {
    if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
    mvt_test::temp_dir out;
    ASSERT_EQ(run_tool({"report", "openmp_run", "-o", out / "r.html"}, data).exit_code, 0);
    ASSERT_EQ(run_tool({"report", "openmp_run", "--max-executions", "3", "-o", out / "capped.html"}, data).exit_code, 0);
    // Without Graphviz the page still comes out, a note in place of the graph.
    child_result without = mvt_test::run_child({MVT_TRACE_EXE, "report", "openmp_run", "-o", out / "no_dot.html"},
                                               {data, {"PATH=/nonexistent"}, {}, 120});
    ASSERT_EQ(without.exit_code, 0) << without.err;
    expect_python({MVT_TOOL_CHECKS, "report", out / "r.html"});
    expect_python({MVT_TOOL_CHECKS, "report-capped", out / "capped.html"});
    expect_python({MVT_TOOL_CHECKS, "report-without-dot", out / "no_dot.html"});
    EXPECT_NE(mvt_test::read_file(out / "no_dot.html").find("dot program was not found"), std::string::npos);
    // Like every command, no page from a malformed trace.
    EXPECT_EQ(run_tool({"report", "malformed", "-o", out / "bad.html"}, data).exit_code, 1);
    EXPECT_TRUE(mvt_test::list_dir(out.path()) == (std::vector<std::string>{"capped.html", "no_dot.html", "r.html"}));
}

TEST(tool_commands, report_marks_open_executions_and_names_the_recorded_program) {
    if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
    mvt_test::temp_dir run;
    using namespace trace_text;
    std::string records;
    const char* names[] = {"outer", "inner", "early", "late", "mid"};
    for (int h = 1; h <= 5; ++h) records += string_handle(1, h, names[h - 1]);
    // Regions early and mid overlap without nesting; late begins after early
    // ended and is never ended, nor are the two tasks.
    records += region_begin(10, 10, 3, 9) + region_begin(20, 11, 5, 9) + region_end(30, 10, 9) +
               region_begin(40, 12, 4, 9) + region_end(50, 11, 9) + task_begin(60, 20, 1, 9) + task_begin(70, 21, 2, 9);
    mvt_test::write_file(run / "_mvt.0", file(records, 90, 1));
    mvt_test::write_file(run / "mvt-record.json", "{\"command\": [\"./prog\", \"two words\"], \"exit_status\": 3}\n");
    mvt_test::temp_dir out;
    ASSERT_EQ(run_tool({"report", run.path(), "-o", out / "page.html"}, data).exit_code, 0);
    expect_python({MVT_TOOL_CHECKS, "report-open", out / "page.html"});
    // The record file is no trace file: check passes it by.
    EXPECT_EQ(run_tool({"check", run.path()}, data).out.find("mvt-record"), std::string::npos);
}

TEST(tool_commands, record_leaves_the_command_and_its_status_beside_the_trace) {
    mvt_test::temp_dir out;
    EXPECT_EQ(run_tool({"record", "-o", out / "trace", "--", "/bin/sh", "-c", "exit 3"}, data).exit_code, 3);
    std::optional<mvt_trace::recorded_run> recorded = mvt_trace::read_recorded_run(out / "trace");
    ASSERT_TRUE(recorded) << mvt_test::read_file(out / "trace/mvt-record.json");
    EXPECT_EQ(recorded->command, (std::vector<std::string>{"/bin/sh", "-c", "exit 3"}));
    EXPECT_EQ(recorded->exit_status, 3);
    EXPECT_EQ(recorded->outcome, "exited with status 3");
}

TEST(tool_commands, bad_invocations_say_why_in_one_line_and_exit_2) {
    const std::vector<std::vector<std::string>> cases = {
        {"frobnicate", "openmp_run"}, {"summary"}, {"summary", "no_such_dir"}, {"summary", "expected"},
        {"timeline", "openmp_run", "--width", "12"}, {"chrome", "openmp_run", "-o", "/no/such/dir/x.json"},
        {"check", "openmp_run", "-o", "x"}, {"check", "no_such_dir"}, {"summary", "openmp_run", "truncated"},
        {"record", "--", }, {"record"}, {"report"}, {"report", "openmp_run", "--max-executions", "many"},
        {"report", "openmp_run", "--max-nodes", "-1"}, {"dot", "openmp_run", "--max-nodes", "x"},
    };
    for (const std::vector<std::string>& args : cases) {
        child_result r = run_tool(args, data);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_TRUE(one_error_line(r)) << r.err;
    }
    EXPECT_EQ(run_tool({"chrome", "openmp_run", "-o", "/no/such/dir/x.json"}, data).err,
              "mvt-trace: cannot write /no/such/dir/x.json: No such file or directory\n");
    EXPECT_EQ(run_tool({"summary", "--frob", "openmp_run"}, data).err,
              "mvt-trace: summary: unknown option '--frob' (see 'mvt-trace summary --help')\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help", "check"}, {"summary", "--help"}, {"--version"}}) {
        child_result help = run_tool(args, data);
        EXPECT_EQ(help.exit_code, 0) << args[0];
        EXPECT_EQ(help.out.rfind(args[0] == "--version" ? "mvt-trace " : "usage: mvt-trace ", 0), 0u) << help.out;
    }
}

}  // namespace
