#ifndef MVT_TESTS_TOOL_RUN_H
#define MVT_TESTS_TOOL_RUN_H

#include <string>
#include <vector>

#include "child_process.h"

// mvt-trace run as a user runs it, from `cwd` (inherited when empty), without
// the variables that point runtimes at the library: record sets those itself.
inline mvt_test::child_result run_tool(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv = {MVT_TRACE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, {cwd, {}, {"MVA_DIR", "OMP_TOOL_LIBRARIES", "INTEL_LIBITTNOTIFY64"}, 120});
}

#endif
