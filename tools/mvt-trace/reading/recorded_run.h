#ifndef MVT_TRACE_READING_RECORDED_RUN_H
#define MVT_TRACE_READING_RECORDED_RUN_H

#include <optional>
#include <string>
#include <vector>

namespace mvt_trace {

// The file `mvt-trace record` leaves beside the trace files: what was run and
// how it ended. Not a trace file; readers of the trace pass it by.
extern const char* const recorded_run_file;  // "mvt-record.json"

struct recorded_run {
    std::vector<std::string> command;  // the program and its arguments
    std::optional<int> exit_status;    // none when it did not exit normally
    std::string outcome;               // "exited with status 0", "was killed by SIGSEGV"
};

// DIR/mvt-record.json, when it is there and reads as such a record.
std::optional<recorded_run> read_recorded_run(const std::string& directory);

// The text of such a record, as record writes it.
std::string recorded_run_text(const std::vector<std::string>& command, std::optional<int> exit_status,
                              const std::string& outcome);

// The command as one line a shell would take back: words with blanks or
// quotes in them are quoted.
std::string command_line(const std::vector<std::string>& command);

}  // namespace mvt_trace

#endif
