#ifndef MVT_TEST_CHILD_PROCESS_H
#define MVT_TEST_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace mvt_test {

struct child_result {
    int exit_code = -1;  // -1 when the child was killed by a signal
    int signal = 0;      // the signal that ended the child, or 0
    std::string out, err;
};

struct child_options {
    std::string cwd;                     // working directory; inherited when empty
    std::vector<std::string> set_env;    // "NAME=value" entries added or replaced
    std::vector<std::string> unset_env;  // names removed from the environment
    int timeout_seconds = 120;           // the child is killed after this
};

// Runs argv[0] (a path) with the given arguments and options and waits for it.
child_result run_child(const std::vector<std::string>& argv, const child_options& options);

}  // namespace mvt_test

#endif
