// mvt-trace record, run as a user runs it: on a real OpenMP program on
// LLVM's libomp, with the library found beside the built tool.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "tool_run.h"

namespace {

using mvt_test::child_result;

class tool_record : public ::testing::Test {
    void SetUp() override {
#ifdef MVT_UNDER_TSAN
        GTEST_SKIP() << "libomp is not instrumented for ThreadSanitizer";
#endif
    }
};

TEST_F(tool_record, traces_into_a_fresh_directory_and_passes_the_exit_status_through) {
    mvt_test::temp_dir work;
    child_result r = run_tool({"record", "-o", "trace", "--", OMP_EXIT_STATUS_PROGRAM, "3"}, work.path());
    EXPECT_EQ(r.exit_code, 3) << r.err;
    EXPECT_EQ(r.out, "threads: 2\n");
    EXPECT_NE(r.err.find("mvt-trace: the program exited with status 3\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mvt-trace: trace in trace/: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" from 2 threads, whole\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mvt-trace analyze trace\n"), std::string::npos) << r.err;
    EXPECT_EQ(run_tool({"check", "trace"}, work.path()).exit_code, 0);

    // The same directory again is refused before anything runs (the --help
    // after "--" is the program's).
    const std::vector<std::string> before = mvt_test::list_dir(work / "trace");
    child_result again = run_tool({"record", "-o", "trace", "--", OMP_EXIT_STATUS_PROGRAM, "--help"}, work.path());
    EXPECT_EQ(again.exit_code, 2);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("trace is not empty"), std::string::npos) << again.err;
    EXPECT_EQ(mvt_test::list_dir(work / "trace"), before);
}

TEST_F(tool_record, without_a_directory_makes_a_dated_one_and_tells_a_program_that_cannot_start) {
    mvt_test::temp_dir work;
    child_result r = run_tool({"record", "--", OMP_EXIT_STATUS_PROGRAM}, work.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> made = mvt_test::list_dir(work.path());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].rfind("mvt_20", 0), 0u) << made[0];
    EXPECT_FALSE(mvt_test::list_dir(work / made[0]).empty());

    child_result missing = run_tool({"record", "-o", "t2", "--", "no-such-program-here"}, work.path());
    EXPECT_EQ(missing.exit_code, 127);
    EXPECT_EQ(missing.err, "mvt-trace: the program could not be started: No such file or directory\n");
}

}  // namespace
