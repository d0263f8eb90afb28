#ifndef MVT_TRACE_CAPTURE_PROGRAM_RUN_H
#define MVT_TRACE_CAPTURE_PROGRAM_RUN_H

#include <string>
#include <vector>

namespace mvt_trace {

// How a program run ended.
struct program_outcome {
    bool started = false;
    int start_error = 0;  // errno of a failed start: not found, not executable
    bool exited = false;
    int exit_status = 0;
    int signal = 0;  // the signal that ended it, when it did not exit

    // What a shell would give as the status: the exit status, 128 + the
    // signal, 127 when the program was not found and 126 when it could not
    // be run.
    int shell_status() const;
    // "exited with status 3", "was killed by SIGSEGV", "could not be started: ..."
    std::string description() const;
};

// Runs `argv` (argv[0] looked up in PATH) with `environment` added to this
// process's environment, sharing its standard streams, and waits for it.
// While it runs, a Ctrl-C or Ctrl-\ from the terminal goes to the program
// alone, as with a shell, so that this process can still report afterwards.
program_outcome run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment);

}  // namespace mvt_trace

#endif
