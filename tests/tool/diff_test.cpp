// mvt-trace diff as CI runs it: real runs of an OpenMP program and a flow
// graph, recorded together as one run of several processes, with and
// without one construct of each made twice as slow; and the command's words
// and exit status on hand-written traces.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "tool_run.h"
#include "trace_script.h"

namespace {

using json = nlohmann::json;
using mvt_test::child_result;

std::set<std::string> regressed(const json& comparison) {
    std::set<std::string> labels;
    for (const json& c : comparison["constructs"])
        if (c["regressed"].get<bool>()) labels.insert(c["label"].get<std::string>());
    return labels;
}

class tool_diff_recorded : public ::testing::Test {
protected:
    void SetUp() override { MVT_SKIP_UNDER_TSAN(); }

    // Both programs at once under one shell: a record run directory of two
    // traced processes. Raised above a busy machine's
    // other work where the test may (as root), so that waking from their
    // sleeps does not take longer than the sleeps; elsewhere they run as
    // they are.
    void record(const std::string& name, const std::string& argument) {
        static const int raised = ::setpriority(PRIO_PROCESS, 0, -10);
        (void)raised;
        const std::string both = std::string(OMP_REGRESSION_PROGRAM) + " " + argument + " & " + FLOW_STAGES_PROGRAM +
                                 " " + argument + " && wait $!";
        const child_result r = run_tool({"record", "-o", name, "--", "/bin/sh", "-c", both}, work.path());
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    // The traced process directories of a record run, in start order.
    std::vector<std::string> processes(const std::string& name) {
        std::vector<std::string> traced;
        for (const std::string& entry : mvt_test::list_dir(work / name))
            if (entry.find("omp_regression") != std::string::npos || entry.find("flow_stages") != std::string::npos)
                traced.push_back(name + "/" + entry);
        return traced;
    }

    json diff_json(const std::vector<std::string>& args, int expected_status) {
        const child_result r = run_tool(joined({"diff", "--json"}, args), work.path());
        EXPECT_EQ(r.exit_code, expected_status) << r.err;
        return json::parse(r.out);
    }

    // In memory where there is such a file system: the library writes a
    // task's begin record inside its time, and a disk that others' builds
    // keep busy can hold a write back for milliseconds.
    mvt_test::temp_dir work{::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
};

TEST_F(tool_diff_recorded, one_construct_twice_as_slow_in_each_process_is_flagged_and_nothing_else) {
    record("base", "");
    record("again", "");
    record("slow", "slow");

    const json same = diff_json({"base", "again"}, 0);
    EXPECT_EQ(same["regressions"], 0) << same.dump(1);
    EXPECT_TRUE(same["added"].empty() && same["removed"].empty()) << same.dump(1);
    // Two tasks with dependences, the tasks without, four flow-graph nodes
    // (one called by its kind and ordinal).
    std::set<std::string> labels;
    for (const json& c : same["constructs"]) labels.insert(c["label"].get<std::string>());
    EXPECT_EQ(labels.size(), 7u) << same.dump(1);
    EXPECT_TRUE(labels.count("parse") && labels.count("solve") && labels.count("store") &&
                labels.count("function_node 4") && labels.count("omp_explicit")) << same.dump(1);

    const json slower = diff_json({"base", "slow"}, 1);
    const std::set<std::string> flagged = regressed(slower);
    ASSERT_EQ(flagged.size(), 2u) << slower.dump(1);
    EXPECT_TRUE(flagged.count("solve"));
    for (const json& c : slower["constructs"]) {
        if (!c["regressed"].get<bool>()) continue;
        // The median, since a loaded machine's preemptions reach the mean
        // of sixteen executions (the benchmark shows both).
        EXPECT_GE(c["median_change"].get<double>(), 0.7) << c;
        EXPECT_LE(c["median_change"].get<double>(), 1.3) << c;
        if (c["label"] != "solve") {
            EXPECT_EQ(c["location"]["function"], "refine") << c;
        }
    }

    // The same runs named process by process.
    std::vector<std::string> split = processes("base");
    split.push_back("--");
    for (const std::string& p : processes("slow")) split.push_back(p);
    ASSERT_EQ(split.size(), 5u);
    EXPECT_EQ(regressed(diff_json(split, 1)), flagged);

    // The text says what regressed on its last line.
    const child_result text = run_tool({"diff", "base", "slow"}, work.path());
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_NE(text.out.find("\nregressed ("), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(": REGRESSED\n"), std::string::npos) << text.out;

    // A page with a baseline carries the same comparison.
    ASSERT_EQ(run_tool({"report", "slow", "--baseline", "base", "-o", "page.html"}, work.path()).exit_code, 0);
    const std::string page = mvt_test::read_file(work / "page.html");
    const std::string open = "id=\"mvt-data\">";
    const std::size_t begin = page.find(open) + open.size();
    const json data = json::parse(page.substr(begin, page.find("</script>", begin) - begin));
    EXPECT_EQ(regressed(data["comparison"]), flagged);
}

// Two hand-written runs of one flow node: ten executions of 1 ms, then of 2 ms.
class tool_diff_words : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"base", "slow"}) {
            std::string script = "thread 0\n0 task_group flow 10 0 node\n0 metadata_stringA flow 10 name 1 stage\n";
            for (int i = 0; i < 10; ++i) {
                const int begin = i * 3000, length = name[0] == 'b' ? 1000 + i : 2000 + i;
                script += std::to_string(begin) + "us task_begin flow 10 0 body\n" + std::to_string(begin + length) +
                          "us task_end flow\n";
            }
            ASSERT_EQ(::mkdir((work / name).c_str(), 0755), 0);
            mvt_tool_test::write_trace_script(script, work / name);
        }
    }

    child_result diff(const std::vector<std::string>& args) { return run_tool(joined({"diff"}, args), work.path()); }

    mvt_test::temp_dir work;
};

TEST_F(tool_diff_words, exit_status_says_whether_anything_regressed_and_2_for_what_cannot_be_compared) {
    EXPECT_EQ(diff({"base/p0", "base/p0"}).exit_code, 0);
    EXPECT_EQ(diff({"base/p0", "slow/p0"}).exit_code, 1);
    EXPECT_EQ(diff({"--threshold", "150", "base/p0", "slow/p0"}).exit_code, 0);
    EXPECT_EQ(diff({"base/p0", "--", "slow/p0", "--threshold=99.5%"}).exit_code, 1);
    EXPECT_EQ(diff({"slow/p0", "base/p0"}).exit_code, 0);  // faster is fine

    // -o writes the result, and only then.
    EXPECT_EQ(diff({"base/p0", "slow/p0", "--json", "-o", "out.json"}).exit_code, 1);
    EXPECT_EQ(json::parse(mvt_test::read_file(work / "out.json"))["regressions"], 1);

    const std::vector<std::vector<std::string>> wrong = {
        {}, {"base/p0"}, {"base/p0", "slow/p0", "base/p0"}, {"base/p0", "--"}, {"--", "slow/p0"},
        {"base/p0", "--", "slow/p0", "--", "base/p0"}, {"--threshold", "ten", "base/p0", "slow/p0"},
        {"--threshold", "-5", "base/p0", "slow/p0"}, {"base/p0", "missing"}, {"base/p0", "slow/p0", "-o", "base/p0/x"},
    };
    for (const std::vector<std::string>& args : wrong) {
        const child_result r = diff(args);
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(one_error_line(r)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(mvt_test::list_dir(work / "base/p0"), std::vector<std::string>{"_mvt.0"});

    // A file that cannot be read whole compares nothing.
    mvt_test::write_file(work / "slow/p0/_mvt.0", "<trace>\n<record>\nnonsense\n");
    const child_result broken = diff({"base/p0", "slow/p0"});
    EXPECT_EQ(broken.exit_code, 2) << broken.err;
    EXPECT_EQ(broken.out, "");
}

}  // namespace
