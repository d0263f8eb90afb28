// oneDNN as a real instrumented runtime: its compiled-in static part creates
// its domain and one string handle per primitive kind in its own global,
// before it loads the library named by INTEL_LIBITTNOTIFY64 at its first
// primitive execution. Every execution it then marks as a task must be named.

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace {

// Each execution is a task named by its primitive kind. On the thread that
// bound the library, which executes every primitive, their counts are the
// program's own; threads of its parallel regions mark tasks of the same kinds.
TEST(Dnnl, EveryExecutionIsNamedByItsPrimitiveKind) {
#ifndef DNNL_PRIMITIVES_PROGRAM
    GTEST_SKIP() << "oneDNN was not found when the tests were built";
#else
    mvt_test::child_options options;
    options.set_env = {"INTEL_LIBITTNOTIFY64=" MVT_LIB_PATH, "DNNL_ITT_TASK_LEVEL=2"};
    options.unset_env = {"ONEDNN_ITT_TASK_LEVEL"};
    mvt_test::traced_run run({DNNL_PRIMITIVES_PROGRAM, "7"}, options);

    std::map<std::string, long> printed;
    std::istringstream out(run.child.out);
    for (std::string kind; out >> kind;) out >> printed["@" + kind];
    ASSERT_EQ(printed, (std::map<std::string, long>{{"@eltwise", 21}, {"@matmul", 14}})) << run.child.out;

    size_t announcing = run.files.size();
    std::vector<std::map<std::string, long>> executed(run.files.size());
    for (size_t k = 0; k < run.files.size(); ++k)
        for (const std::string& line : run.files[k]) {
            std::istringstream in(line);
            const std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
            if (w.at(0) == "string_handle_createA" && w.size() == 4 && w[3] == "matmul") announcing = k;
            if (w.at(0) != "task_begin") continue;
            // task_begin domain {id} {parent} handle 0, the handle as @name when announced
            ASSERT_EQ(w.size(), 6u) << line;
            EXPECT_EQ(w[1], "@dnnl::primitive::execute") << line;
            EXPECT_TRUE(printed.count(w[4])) << "_mvt." << k << ": " << line;
            ++executed[k][w[4]];
        }
    ASSERT_LT(announcing, run.files.size()) << "no string_handle_createA record names matmul";
    EXPECT_EQ(executed[announcing], printed);
#endif
}

}  // namespace
