// mvt-trace record on programs that start other traced processes: every
// image must keep its own trace, whole, in a directory of its own.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "reading/recorded_run.h"
#include "reading/run_layout.h"
#include "tool_run.h"
#include "trace_reader.h"

namespace {

using mvt_test::child_result;

// One process directory as the files on disk show it, read without the
// tool's own reader.
struct process_trace {
    std::string name;                // "002-trace_client"
    unsigned long long records = 0;  // end_of_records aside
    bool intact = true;              // every line in place, though the end may be missing
    bool whole = true;               // and every file ended
};

std::vector<process_trace> traces_in(const std::string& run) {
    std::vector<process_trace> found;
    for (const std::string& name : mvt_test::list_dir(run)) {
        if (name.empty() || name[0] < '0' || name[0] > '9') continue;
        process_trace process{name};
        for (const std::string& file : mvt_test::list_dir(run + "/" + name)) {
            if (file.rfind("_mvt.", 0) != 0) continue;
            const mvt_test::trace_file trace = mvt_test::parse_trace(run + "/" + name + "/" + file);
            const bool ended = !trace.records.empty() && trace.records.back().name() == "end_of_records";
            process.intact = process.intact && trace.error.empty();
            process.whole = process.whole && trace.whole();
            process.records += trace.records.size() - (ended ? 1 : 0);
        }
        found.push_back(process);
    }
    return found;
}

std::string describe(const std::vector<process_trace>& traces) {
    std::string text;
    for (const process_trace& t : traces)
        text += t.name + ": " + std::to_string(t.records) + (t.whole ? " whole\n" : t.intact ? " intact\n" : " broken\n");
    return text;
}

mvt_trace::run_layout layout_of(const std::string& run) {
    mvt_trace::run_layout layout;
    std::string error;
    EXPECT_TRUE(mvt_trace::read_run_layout({run}, layout, error)) << error;
    return layout;
}

class record_processes : public ::testing::Test {
protected:
    // Records `program` into RUN and expects it to succeed; checks that
    // every process directory is intact and that check passes the run. An
    // image replaced by exec cannot end its files; every other must.
    std::vector<process_trace> record(const std::vector<std::string>& program) {
        recorded = run_tool(joined({"record", "-o", "run", "--"}, program), work.path());
        EXPECT_EQ(recorded.exit_code, 0) << recorded.err;
        const std::vector<process_trace> traces = traces_in(run());
        for (const process_trace& t : traces) EXPECT_TRUE(t.intact) << describe(traces);
        checked = run_tool({"check", "run"}, work.path());
        EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
        return traces;
    }
    std::string run() const { return work / "run"; }

    mvt_test::temp_dir work;
    child_result recorded, checked;
};

// What the facts of each process say: "RELATION RELATED ENDING", and "same
// pid" when its pid is `pid`.
std::vector<std::string> facts_of(const std::vector<mvt_trace::traced_process>& processes, long pid) {
    std::vector<std::string> lines;
    for (const mvt_trace::traced_process& p : processes)
        lines.push_back(!p.facts ? "no facts"
                                 : p.facts->relation + " " + p.facts->related + " " + p.facts->ending +
                                       (p.facts->pid == pid ? " same pid" : ""));
    return lines;
}

long first_pid(const mvt_trace::run_layout& layout) {
    return layout.processes.empty() || !layout.processes[0].facts ? -1 : layout.processes[0].facts->pid;
}

TEST_F(record_processes, an_exec_into_another_traced_program_keeps_both_traces) {
    const std::vector<process_trace> traces =
        record({PROCESS_TREE_PROGRAM, MVT_LIB_PATH, "exec", "300", MVT_TRACE_CLIENT});
    EXPECT_EQ(describe(traces), "001-process_tree: 300 intact\n002-trace_client: 600 whole\n");
    EXPECT_NE(recorded.err.find("trace in run/: 2 processes traced, all whole\n"), std::string::npos) << recorded.err;
    EXPECT_NE(recorded.err.find("process_tree (pid "), std::string::npos) << recorded.err;
    EXPECT_NE(recorded.err.find("): 300 records from 1 thread, whole up to its exec\n"), std::string::npos)
        << recorded.err;
    EXPECT_NE(checked.out.find("2 processes traced: all whole\n"), std::string::npos) << checked.out;

    // One pid, two images: the first says where it went, the second where it came from.
    const mvt_trace::run_layout layout = layout_of(run());
    EXPECT_EQ(facts_of(layout.processes, first_pid(layout)),
              (std::vector<std::string>{"  exec same pid", "exec-of 001-process_tree exit same pid"}));
    ASSERT_EQ(layout.processes.size(), 2u);
    const mvt_trace::process_facts& before = *layout.processes[0].facts;
    const mvt_trace::process_facts& after = *layout.processes[1].facts;
    EXPECT_EQ(before.next, "002-trace_client");
    EXPECT_EQ(after.arguments, (std::vector<std::string>{MVT_TRACE_CLIENT, MVT_LIB_PATH, "stress", "2", "300"}));
    EXPECT_LE(before.started, after.started);
    EXPECT_FALSE(layout.processes[1].module_map.empty());

    // The first process is the command record ran: reports take its record
    // from the run directory; a later process has none of its own.
    const std::optional<mvt_trace::recorded_run> command = mvt_trace::read_recorded_run(run() + "/001-process_tree/");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->command.at(2), "exec");
    EXPECT_FALSE(mvt_trace::read_recorded_run(run() + "/002-trace_client"));
}

TEST_F(record_processes, a_shell_running_two_traced_programs_keeps_both) {
    const std::string client = std::string(MVT_TRACE_CLIENT) + " " + MVT_LIB_PATH + " stress 2 5000";
    const std::vector<process_trace> traces = record({"/bin/sh", "-c", client + "; " + client});
    // The shell has a directory too, without a trace: it never loaded the library.
    EXPECT_EQ(describe(traces), "001-sh: 0 whole\n002-trace_client: 10000 whole\n003-trace_client: 10000 whole\n");
    const mvt_trace::run_layout layout = layout_of(run());
    ASSERT_EQ(layout.untraced.size(), 1u);
    ASSERT_TRUE(layout.untraced[0].facts);
    EXPECT_EQ(layout.untraced[0].directory, run() + "/001-sh");
    EXPECT_EQ(facts_of(layout.processes, 0), (std::vector<std::string>(2, "child-of 001-sh exit")));
    for (const mvt_trace::traced_process& p : layout.processes)
        EXPECT_EQ(p.facts->parent, layout.untraced[0].facts->pid);
    EXPECT_NE(recorded.err.find("1 more process ran without loading the library (sh (pid "), std::string::npos)
        << recorded.err;
}

TEST_F(record_processes, system_reaches_the_helper_in_the_new_shell) {
    // system() starts its shell inside the C library, past the wrappers: the
    // shell claims a directory for itself.
    const std::vector<process_trace> traces =
        record({PROCESS_TREE_PROGRAM, MVT_LIB_PATH, "system", "200", MVT_TRACE_CLIENT});
    EXPECT_EQ(describe(traces), "001-process_tree: 400 whole\n002-sh: 0 whole\n003-trace_client: 200 whole\n");
    const mvt_trace::run_layout layout = layout_of(run());
    ASSERT_EQ(layout.untraced.size(), 1u);
    ASSERT_TRUE(layout.untraced[0].facts);
    EXPECT_EQ(layout.untraced[0].facts->relation + " " + layout.untraced[0].facts->related, "child-of 001-process_tree");
}

TEST_F(record_processes, a_library_loaded_again_after_an_unload_writes_a_new_directory) {
    const std::vector<process_trace> traces = record({PROCESS_TREE_PROGRAM, MVT_LIB_PATH, "reload", "10"});
    EXPECT_EQ(describe(traces), "001-process_tree: 10 whole\n002-process_tree: 10 whole\n003-process_tree: 10 whole\n");
    const mvt_trace::run_layout layout = layout_of(run());
    EXPECT_TRUE(layout.untraced.empty()) << "the directory claimed at the last unload was never used";
    EXPECT_EQ(facts_of(layout.processes, first_pid(layout)),
              (std::vector<std::string>{"  unload same pid", "reload-of 001-process_tree unload same pid",
                                        "reload-of 002-process_tree exit same pid"}));
}

TEST_F(record_processes, a_program_linked_with_the_library_gets_its_directory_before_it_starts) {
    const std::vector<process_trace> traces = record({LINKED_EXEC_PROGRAM, "100", "first"});
    EXPECT_EQ(describe(traces), "001-linked_exec: 100 intact\n002-linked_exec: 100 whole\n003-linked_exec: 100 whole\n");
    // Claimed in start order: the spawned child before the exec that follows it.
    const mvt_trace::run_layout layout = layout_of(run());
    EXPECT_EQ(facts_of(layout.processes, first_pid(layout)),
              (std::vector<std::string>{"  exec same pid", "child-of 001-linked_exec exit",
                                        "exec-of 001-linked_exec exit same pid"}));
    ASSERT_EQ(layout.processes.size(), 3u);
    EXPECT_EQ(layout.processes[1].facts->arguments.back(), "spawned");
    EXPECT_EQ(layout.processes[2].facts->arguments.back(), "last");
}

// The reading side alone, on a run directory laid out by hand: start order
// by number, images without a trace apart, facts as the helper escapes them,
// and a directory of trace files still one process as before.
TEST(run_layout, orders_processes_by_number_and_reads_their_facts) {
    mvt_test::temp_dir run;
    const std::string header = mvt_test::expected_trace_header_line();
    const std::string empty_trace = "<?xml version=\"1.0\"?>\n" + header + "\n</trace>\n";
    for (const std::string name : {"010-b", "1000-c", "002-a"}) {
        ASSERT_EQ(::mkdir((run / name).c_str(), 0777), 0);
        mvt_test::write_file(run / name + "/_mvt.0", empty_trace);
    }
    ASSERT_EQ(::mkdir((run / "001-sh").c_str(), 0777), 0);
    mvt_test::write_file(run / "001-sh/mvt-process.txt", "mvt-process 1\npid 7\nparent 1\nstarted 5\n"
                                                        "executable /bin/da\\x09sh\narg sh\narg -c\narg a\\nb\\\\c\narg \\xZZ\n"
                                                        "ended exec 9 002-a\nexec-failed 10 2\nnew-key later\n");
    mvt_test::write_file(run / "002-a/mvt-process.txt",
                         "mvt-process 1\npid 8\nparent 7\nchild-of 001-sh\nstarted 6\nended exit 11\n");
    mvt_test::write_file(run / "002-a/mvt-modules.txt", "mvt-modules 1\n");
    mvt_test::write_file(run / "mvt-record.json", "{}");
    ASSERT_EQ(::mkdir((run / "notes").c_str(), 0777), 0);

    mvt_trace::run_layout layout = layout_of(run.path());
    std::string error;
    ASSERT_EQ(layout.directories(), (std::vector<std::string>{run / "002-a", run / "010-b", run / "1000-c"}));
    EXPECT_EQ(layout.processes[0].label, "a (pid 8)");
    EXPECT_EQ(layout.processes[1].label, run / "010-b");
    EXPECT_EQ(layout.processes[0].module_map, run / "002-a/mvt-modules.txt");
    EXPECT_EQ(layout.processes[1].module_map, "");
    for (const mvt_trace::trace_file& f : layout.files()) EXPECT_EQ(f.path, layout.processes[f.process].directory + "/_mvt.0");
    ASSERT_EQ(layout.untraced.size(), 1u);
    ASSERT_TRUE(layout.untraced[0].facts);
    const mvt_trace::process_facts& shell = *layout.untraced[0].facts;
    EXPECT_EQ(shell.executable, "/bin/da\tsh");
    EXPECT_EQ(shell.arguments, (std::vector<std::string>{"sh", "-c", "a\nb\\c", "xZZ"})) << "a damaged escape";
    EXPECT_EQ(shell.ending, "") << "an exec that failed ends nothing";
    EXPECT_EQ(layout.processes[0].facts->related, "001-sh");
    EXPECT_EQ(layout.processes[0].facts->ended, 11u);

    // Several directories on the command line: one process each, as given.
    ASSERT_TRUE(mvt_trace::read_run_layout({run / "1000-c", run / "002-a"}, layout, error)) << error;
    EXPECT_EQ(layout.directories(), (std::vector<std::string>{run / "1000-c", run / "002-a"}));
    EXPECT_EQ(layout.files()[1].process, 1u);

    EXPECT_FALSE(mvt_trace::read_run_layout({run / "notes"}, layout, error));
    EXPECT_NE(error.find("holds no trace files"), std::string::npos) << error;
    mvt_test::write_file(run / "001-sh/mvt-process.txt", "mvt-process 2\n");
    mvt_trace::process_facts facts;
    EXPECT_FALSE(mvt_trace::read_process_facts(run / "001-sh/mvt-process.txt", facts, error));
}

}  // namespace
