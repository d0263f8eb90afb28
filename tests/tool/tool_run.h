#ifndef MVT_TESTS_TOOL_RUN_H
#define MVT_TESTS_TOOL_RUN_H

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.h"

// libomp is not built with ThreadSanitizer, which reports races inside the
// runtime's own synchronisation: tests that run it skip there.
#ifdef MVT_UNDER_TSAN
#define MVT_SKIP_UNDER_TSAN() GTEST_SKIP() << "libomp is not instrumented for ThreadSanitizer"
#else
#define MVT_SKIP_UNDER_TSAN() (void)0
#endif

// mvt-trace run as a user runs it, from `cwd` (inherited when empty), without
// the variables that point runtimes at the library: record sets those itself.
inline mvt_test::child_result run_tool(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv = {MVT_TRACE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, {cwd, {}, {"MVA_DIR", "OMP_TOOL_LIBRARIES", "INTEL_LIBITTNOTIFY64"}, 120});
}

// `words` followed by `more`: a command and the directories it takes.
inline std::vector<std::string> joined(std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

// What a command printed as JSON; the command must succeed.
inline nlohmann::json tool_json(const std::vector<std::string>& args, const std::string& cwd = "") {
    const mvt_test::child_result r = run_tool(args, cwd);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.exit_code == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

// How every refusal reads: one line on standard error, "mvt-trace: ...".
inline bool one_error_line(const mvt_test::child_result& r) {
    return r.err.rfind("mvt-trace: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1;
}

// An OpenMP program on libomp with the library as its tool, tracing into `dir`.
inline mvt_test::child_result run_openmp_traced(const std::string& program, const std::string& dir) {
    return mvt_test::run_child(
        {program}, {"", {"MVA_DIR=" + dir, "OMP_TOOL_LIBRARIES=" MVT_LIB_PATH, "OMP_TOOL=enabled"}, {"OMP_NUM_THREADS"}, 120});
}

#endif
