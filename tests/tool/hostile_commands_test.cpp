// The commands on inputs and outputs that a careless or hostile user can
// give them: they must answer, in one line where they refuse, and never
// hang, read without end, or replace what they must not.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "tool_run.h"
#include "trace_text.h"

namespace {

using mvt_test::child_result;
using namespace trace_text;

const std::string data = MVT_TOOL_DATA;

// mvt-trace with a short leash: a command that blocks is killed and fails
// the test on its signal, not on a clock.
child_result run_leashed(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv = {MVT_TRACE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, {cwd, {}, {"MVA_DIR"}, 30});
}

child_result run_shell(const std::string& script, const std::string& cwd) {
    return mvt_test::run_child({"/bin/sh", "-c", script}, {cwd, {}, {}, 30});
}

std::string whole_trace() { return file(task_begin(10, 5, 42) + task_end(15), 20, 1); }

TEST(tool_hostile_commands, fifos_devices_and_odd_names_are_named_never_read) {
    mvt_test::temp_dir run;
    mvt_test::write_file(run / "_mvt.0", whole_trace());
    mvt_test::write_file(run / "_mvt.00", "not even a trace");
    ASSERT_EQ(::mkfifo((run / "_mvt.1").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (run / "_mvt.2").c_str()), 0);

    child_result check = run_leashed({"check", run.path()});
    EXPECT_EQ(check.signal, 0) << "check hung";
    EXPECT_EQ(check.exit_code, 1) << check.err;
    EXPECT_NE(check.out.find(run / "_mvt.0: whole, 3 whole records\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("ignored: " + run / "_mvt.00 (not a trace file name)\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("ignored: " + run / "_mvt.1 (a FIFO, not a trace file)\n"), std::string::npos);
    EXPECT_NE(check.out.find("ignored: " + run / "_mvt.2 (a character device, not a trace file)\n"), std::string::npos);

    for (const char* command : {"summary", "analyze", "chrome", "timeline", "dot", "report"}) {
        child_result r = run_leashed({command, run.path(), "-o", "-"});
        EXPECT_EQ(r.signal, 0) << command << " hung";
        EXPECT_EQ(r.exit_code, 0) << command << r.err;
        EXPECT_EQ(r.err, "mvt-trace: warning: " + run / "_mvt.1: a FIFO, not a trace file\n" +
                             "mvt-trace: warning: " + run / "_mvt.2: a character device, not a trace file\n")
            << command;
    }
    // Named on the command line, they are refused outright.
    for (const char* name : {"_mvt.1", "_mvt.2"}) {
        child_result r = run_leashed({"check", run / name});
        EXPECT_EQ(r.signal, 0) << name;
        EXPECT_EQ(r.exit_code, 2) << name;
        EXPECT_TRUE(one_error_line(r)) << r.err;
    }
}

TEST(tool_hostile_commands, a_line_of_2_mb_is_reported_where_it_starts) {
    mvt_test::temp_dir run;
    // The length field holds strnlen(name, 1000) mod 256, as the library writes it.
    const std::string name(2'000'000, 'n');
    mvt_test::write_file(run / "_mvt.0", file(record("string_handle_createA", 10, field(42) + field(232) + field(name)), 20, 1));
    child_result check = run_leashed({"check", run.path()});
    EXPECT_EQ(check.exit_code, 1);
    EXPECT_EQ(check.out.substr(0, check.out.find('\n')),
              run / "_mvt.0:8: malformed: line longer than 1 MiB (0 whole records)");
}

TEST(tool_hostile_commands, output_goes_to_regular_files_and_new_names_outside_the_inputs) {
    mvt_test::temp_dir run, elsewhere;
    const std::string trace = whole_trace();
    mvt_test::write_file(run / "_mvt.0", trace);
    ASSERT_EQ(::mkdir((run / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo((elsewhere / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", (elsewhere / "to_null").c_str()), 0);
    ASSERT_EQ(::symlink(run.path().c_str(), (elsewhere / "to_run").c_str()), 0);
    struct refusal_case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::vector<refusal_case> cases = {
        {{"summary", run.path(), "-o", "/dev/null"}, "a character device, not a regular file"},
        {{"summary", run.path(), "-o", elsewhere / "fifo"}, "a FIFO, not a regular file"},
        {{"summary", run.path(), "-o", elsewhere / "to_null"}, "a character device, not a regular file"},
        {{"summary", run.path(), "-o", elsewhere.path()}, "a directory, not a regular file"},
        {{"report", run.path(), "-o", run / "_mvt.0"}, "it lies inside the input directory " + run.path()},
        {{"summary", run.path(), "-o", run / "summary.txt"}, "it lies inside the input directory " + run.path()},
        {{"summary", run.path(), "-o", run / "sub/summary.txt"}, "it lies inside the input directory " + run.path()},
        {{"summary", run.path(), "-o", elsewhere / "to_run/summary.txt"},
         "it lies inside the input directory " + run.path()},
        {{"summary", run / "_mvt.0", "-o", run / "_mvt.0"}, "it is the input file " + run / "_mvt.0"},
    };
    for (const refusal_case& c : cases) {
        child_result r = run_leashed(c.args);
        EXPECT_EQ(r.signal, 0) << c.args[3];
        EXPECT_EQ(r.exit_code, 2) << c.args[3];
        EXPECT_EQ(r.err, "mvt-trace: cannot write " + c.args[3] + ": " + c.reason +
                             (c.reason.find("not a regular") != std::string::npos
                                  ? " (leave out -o to write to standard output)\n"
                                  : "\n"));
    }
    EXPECT_EQ(mvt_test::read_file(run / "_mvt.0"), trace);
    EXPECT_EQ(mvt_test::list_dir(run.path()), (std::vector<std::string>{"_mvt.0", "sub"}));
    EXPECT_TRUE(mvt_test::list_dir(run / "sub").empty());

    // Beside the input, and over a file already there, is fine; so is "-".
    mvt_test::write_file(elsewhere / "old.txt", "old");
    EXPECT_EQ(run_leashed({"summary", run.path(), "-o", elsewhere / "old.txt"}).exit_code, 0);
    EXPECT_EQ(mvt_test::read_file(elsewhere / "old.txt").rfind("_mvt.0: ", 0), 0u);
    child_result to_stdout = run_leashed({"summary", run.path(), "-o", "-"});
    EXPECT_EQ(to_stdout.out, mvt_test::read_file(elsewhere / "old.txt"));
}

TEST(tool_hostile_commands, a_failing_write_leaves_nothing_behind_and_says_why) {
    mvt_test::temp_dir out;
    // A file size limit of 512 bytes makes the result fail half-way, as a
    // full disk would, and the tool must not die of SIGXFSZ on the way.
    child_result limited = run_shell(std::string("ulimit -f 1; exec ") + MVT_TRACE_EXE +
                                         " chrome openmp_run -o " + out / "big.json",
                                     data);
    EXPECT_EQ(limited.signal, 0);
    EXPECT_EQ(limited.exit_code, 2);
    EXPECT_EQ(limited.err, "mvt-trace: cannot write " + out / "big.json" + ": File too large\n");
    EXPECT_TRUE(mvt_test::list_dir(out.path()).empty());

    child_result full = run_shell(std::string("exec ") + MVT_TRACE_EXE + " summary openmp_run > /dev/full", data);
    EXPECT_EQ(full.exit_code, 2);
    EXPECT_EQ(full.err, "mvt-trace: cannot write to standard output: No space left on device\n");
}

TEST(tool_hostile_commands, control_bytes_in_names_reach_the_terminal_escaped) {
    mvt_test::temp_dir run;
    const std::string name = "\x1b]0;owned\x07\x1b[2J";
    mvt_test::write_file(run / "_mvt.0", file(string_handle(5, 42, name) + task_begin(10, 5, 42) +
                                                  record("task_group", 12, field(1) + id(5) + id(0) + field(42)) +
                                                  task_end(15),
                                              20, 1));
    mvt_test::write_file(run / "_mvt.1\x1b[2J", "");
    mvt_test::write_file(run / "_mvt.2", file("<record>\n<field>\x1b]2;x\x07</field>\n", 0, 1));
    const std::string shown = "\\x1b]0;owned\\x07\\x1b[2J";
    child_result summary = run_leashed({"summary", run.path()});
    child_result check = run_leashed({"check", run.path()});
    for (const child_result* r : {&summary, &check}) {
        EXPECT_EQ(r->out.find('\x1b'), std::string::npos) << r->out;
        EXPECT_EQ(r->err.find('\x1b'), std::string::npos) << r->err;
    }
    EXPECT_NE(summary.out.find("    " + shown), std::string::npos) << summary.out;
    EXPECT_NE(check.out.find("ignored: " + run / "_mvt.1\\x1b[2J (not a trace file name)"), std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("\\x1b]2;x\\x07"), std::string::npos) << check.out;
}

TEST(tool_hostile_commands, quiet_is_taken_by_every_command_and_listed_in_help) {
    for (const char* command : {"check", "summary", "analyze"}) {
        child_result r = run_leashed({command, "--quiet", "openmp_run"}, data);
        EXPECT_EQ(r.exit_code, 0) << command << r.err;
        EXPECT_EQ(run_leashed({command, "-q", "openmp_run"}, data).out, r.out) << command;
        EXPECT_NE(run_leashed({command, "--help"}).out.find("-q, --quiet"), std::string::npos) << command;
    }
}

// Timestamps a hostile file may hold: a run from 1 ns to nearly 2^64 ns,
// with executions nearly that long. Every command answers, and sums and
// means stay right where 64 bits would wrap.
TEST(tool_hostile_commands, a_run_of_nearly_2_64_ns_is_analysed_drawn_and_summed_right) {
    const std::uint64_t top = UINT64_MAX - 10;
    mvt_test::temp_dir run;
    mvt_test::write_file(run / "_mvt.0", file(string_handle(1, 42, "long") + task_begin(2, 5, 42) + task_end(top - 1) +
                                                  task_begin(top - 1, 6, 42) + task_end(top),
                                              top, 1));
    mvt_test::write_file(run / "_mvt.1", file(task_begin(3, 7, 42) + task_end(top - 2), top, 1));
    mvt_test::temp_dir out;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"analyze", run.path(), "--json", "-o", out / "a.json"},
          {"report", run.path(), "-o", out / "r.html"}, {"dot", run.path(), "-o", out / "g.dot"},
          {"timeline", run.path(), "-o", out / "t.svg"}, {"chrome", run.path(), "-o", out / "c.json"},
          {"summary", run.path(), "-o", out / "s.txt"}}) {
        const child_result r = run_leashed(args);
        EXPECT_EQ(r.exit_code, 0) << args[0] << ": " << r.err;
    }
    const std::string json = mvt_test::read_file(out / "a.json");
    // Two executions of nearly 2^64 ns and one of 1 ns, by name: their mean
    // is exact, as if summed in 128 bits.
    __extension__ using wide = unsigned __int128;
    const wide sum = static_cast<wide>(top - 3) + (top - 5) + 1;
    const std::uint64_t mean = static_cast<std::uint64_t>((sum + 1) / 3);
    EXPECT_NE(json.find("\"mean_ns\":" + std::to_string(mean)), std::string::npos) << json;
    EXPECT_NE(json.find("\"wall_ns\": " + std::to_string(top - 1)), std::string::npos) << json;
}

// Groups nested 16,000 deep: the drawing nests its boxes only so deep, and
// its text grows with the groups, not with their depth squared.
TEST(tool_hostile_commands, groups_nested_thousands_deep_draw_in_linear_text) {
    std::string records;
    const int depth = 16000;
    records += string_handle(1, 42, "node");
    for (int g = 1; g <= depth; ++g)
        records += record("task_group", 2, field(1) + id(g) + id(g - 1) + field(42));
    records += task_begin(3, depth, 42) + task_end(4);
    mvt_test::temp_dir run;
    mvt_test::write_file(run / "_mvt.0", file(records, 5, 1));
    const child_result r = run_leashed({"dot", run.path()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_LT(r.out.size(), std::size_t{200} << 10);
    std::size_t boxes = 0;
    for (std::size_t at = 0; (at = r.out.find("subgraph cluster_", at)) != std::string::npos; ++at) ++boxes;
    EXPECT_EQ(boxes, 16u);
}

// A directory that holds files of several runs fails every command as it
// fails check, and no result is written.
TEST(tool_hostile_commands, files_of_several_runs_fail_every_command_as_check_does) {
    mvt_test::temp_dir run;
    mvt_test::write_file(run / "_mvt.0", whole_trace());
    mvt_test::write_file(run / "_mvt.1483", whole_trace());
    mvt_test::temp_dir out;
    EXPECT_EQ(run_leashed({"check", run.path()}).exit_code, 1);
    for (const char* command : {"analyze", "report", "summary", "dot", "chrome", "timeline"}) {
        const child_result r = run_leashed({command, run.path(), "-o", out / command});
        EXPECT_EQ(r.exit_code, 1) << command;
        EXPECT_NE(r.err.find("_mvt.1 to _mvt.1482 are missing"), std::string::npos) << command << ": " << r.err;
    }
    EXPECT_TRUE(mvt_test::list_dir(out.path()).empty());
}

}  // namespace
