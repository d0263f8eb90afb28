
#include <iostream>

#include "analysis/run_health.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/check_report.h"

namespace mvt_trace {

namespace {

int run_check(const invocation& call) {
    std::vector<trace_file> files;
    if (!load_run(call, files)) return 2;
    const run_health health = assess_run(files, is_directory(call.positional[0]));
    write_check_report(health, std::cout);
    return health.sound() ? 0 : 1;
}

}  // namespace

const command_spec check_command = {
    "check",
    "DIR",
    "is the trace whole, and from one run?",
    "Reads every trace file of DIR (a trace directory, or one _mvt.N file) and prints one line\n"
    "per file: whole, or the first problem as FILE:LINE. A file cut short by a crash still\n"
    "holds every line written before it; a malformed file has a line the format does not allow.\n"
    "\n"
    "A directory is then judged as the trace of one run: files left from an earlier run in a\n"
    "reused directory (ends seconds apart, gaps in the file numbers, differing headers) are\n"
    "named. Runtime quirks that are no fault of the files (executions still open at the end,\n"
    "ends with nothing open, regions ended on another thread) are listed as notes.\n"
    "\n"
    "Exit status: 0 when every file is whole and all come from one run, 1 otherwise, 2 when\n"
    "DIR cannot be read.",
    {},
    1,
    1,
    false,
    run_check,
};

}  // namespace mvt_trace
