
#include <iostream>

#include "analysis/run_health.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "common/text_format.h"
#include "output/check_report.h"

namespace mvt_trace {

namespace {

// A run of several processes is judged process by process: each has its
// own files, numbered from 0, and ends at its own time, which would look
// like leftovers of another run if they were judged together.
int run_check(const invocation& call) {
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    const bool several = layout.processes.size() > 1;
    bool sound = true;
    for (const traced_process& process : layout.processes) {
        const run_health health = assess_run(process.files, is_directory(process.directory));
        if (several) std::cout << "process " << process.label << ", " << process.directory << ":\n";
        write_check_report(health, std::cout);
        bool whole = false;
        const std::string verdict = process_verdict(process, health, whole);
        if (several || whole != health.sound()) std::cout << "process " << verdict << "\n";
        if (several) std::cout << "\n";
        sound = sound && whole;
    }
    if (several) {
        std::cout << layout.processes.size() << " processes traced: " << (sound ? "all whole" : "NOT all whole");
        if (!layout.untraced.empty())
            std::cout << "; " << counted(layout.untraced.size(), "more process", "more processes")
                      << " never loaded the library";
        std::cout << "\n";
    }
    return sound ? 0 : 1;
}

}  // namespace

const command_spec check_command = {
    "check",
    "DIR",
    "is the trace whole, and from one run?",
    "Reads every trace file of DIR (a trace directory, or one _mvt.N file) and prints one line\n"
    "per file: whole, or the first problem as FILE:LINE. A file cut short by a crash still\n"
    "holds every line written before it; a malformed file has a line the format does not allow.\n"
    "A directory made by 'mvt-trace record' holds one directory per process; each process is\n"
    "judged on its own, and the run is whole when every process is.\n"
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
