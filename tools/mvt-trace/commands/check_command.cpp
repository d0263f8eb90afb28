
#include <algorithm>
#include <iostream>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/check_report.h"

namespace mvt_trace {

namespace {

int run_check(const invocation& call) {
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    const trace_model model = read_model(layout, progress_options(call));
    const bool sound = write_check_report(model, layout, std::cout);
    write_ignored_entries(layout.ignored, std::cout);
    // A file name the library writes on something no reader can read is a
    // file of the run missing; other names are only mentioned.
    const bool unreadable =
        std::any_of(layout.ignored.begin(), layout.ignored.end(), [](const ignored_entry& e) { return e.trace_name; });
    return sound && !unreadable ? 0 : 1;
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
    "named, and so are other faults of the trace (executions of graph nodes never ended).\n"
    "What runtimes normally do (their own executions still open at exit, ends with nothing\n"
    "open) is listed as notes, with what a user of the trace should know. Entries named like\n"
    "trace files that are not (_mvt.00, or an _mvt.N that is a FIFO, a device or a\n"
    "directory) are listed as ignored; the second kind is never opened, and fails the check.\n"
    "\n"
    "Exit status: 0 when every file is whole and the trace has no problem, 1 otherwise, 2\n"
    "when DIR cannot be read.",
    {},
    1,
    1,
    false,
    run_check,
};

}  // namespace mvt_trace
