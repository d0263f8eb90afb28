#ifndef MVT_TRACE_COMMANDS_COMMON_H
#define MVT_TRACE_COMMANDS_COMMON_H

#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "analysis/run_health.h"
#include "cli/command.h"
#include "cli/output_file.h"
#include "reading/run_layout.h"
#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// "-o FILE", shared by the commands that write a result.
option_spec output_option(const std::string& what);

// "mvt-trace: MESSAGE" on standard error.
void print_error(const std::string& message);

// The processes of the run named on the command line (run_layout.h says how
// paths become processes); false, with the reason printed, when a path
// cannot be read or no process holds a trace.
bool load_run(const invocation& call, run_layout& layout);

// How whole one process's trace is, in a word or a few: "whole", "whole up
// to its exec", "NOT whole: 2 files cut short". An image replaced by exec
// never runs the library's exit handlers, so its files stop without their
// end; that alone is no loss. `sound` says whether the trace is fit to use.
std::string process_verdict(const traced_process& process, const run_health& health, bool& sound);

// The value of a count option ("--max-nodes 400") into `count`; false, with
// the reason printed, when it is not a plain number. Absent, `count` keeps
// its value.
bool read_count_option(const invocation& call, const std::string& option, std::size_t& count);

// Warns about every file that is not whole. Returns 1 when a file is
// malformed or unreadable (its records after the problem are lost), else 0:
// a file cut short by a crash still gives everything it holds.
int warn_about(const std::vector<file_report>& reports);

// The frame of a command that reads the run and writes one result: loads
// the files, opens the output, lets `produce` write, and keeps the output
// only when no input file was malformed. `produce` takes the files and the
// output, or the files, one directory per process, and the output.
template <typename Produce>
int run_to_output(const invocation& call, Produce produce) {
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    const std::vector<trace_file> files = layout.files();
    output_file out;
    std::string error;
    if (!out.open(call.value("--output"), error)) {
        print_error(error);
        return 2;
    }
    std::vector<file_report> reports;
    if constexpr (std::is_invocable_v<Produce&, const std::vector<trace_file>&, const std::vector<std::string>&,
                                      std::ostream&>)
        reports = produce(files, layout.directories(), out.stream());
    else
        reports = produce(files, out.stream());
    const int status = warn_about(reports);
    if (status != 0) return status;
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

}  // namespace mvt_trace

#endif
