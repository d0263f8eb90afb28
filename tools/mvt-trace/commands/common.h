#ifndef MVT_TRACE_COMMANDS_COMMON_H
#define MVT_TRACE_COMMANDS_COMMON_H

#include <ostream>
#include <string>
#include <vector>

#include "analysis/run_analysis.h"
#include "cli/command.h"
#include "cli/output_file.h"
#include "reading/run_layout.h"
#include "reading/run_pass.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// "-o FILE", shared by the commands that write a result.
option_spec output_option(const std::string& what);

// "mvt-trace: MESSAGE" on standard error, control bytes shown escaped.
void print_error(const std::string& message);

// The processes of the run named on the command line (run_layout.h says how
// paths become processes); false, with the reason printed, when a path
// cannot be read or no process holds a trace. Entries named like trace
// files that no reader can read are warned about.
bool load_run(const invocation& call, run_layout& layout);
// The same for a list of paths other than the positional ones.
bool load_run(const std::vector<std::string>& paths, run_layout& layout);

// How the pass over the run shows its progress for this command: a line on
// standard error when it is a terminal and the run is large, unless --quiet.
pass_options progress_options(const invocation& call);

// The value of a count option ("--max-nodes 400") into `count`; false, with
// the reason printed, when it is not a plain number. Absent, `count` keeps
// its value.
bool read_count_option(const invocation& call, const std::string& option, std::size_t& count);

// The value of a percentage option ("--threshold 2.5", "10%") into `share`
// as a share (0.025, 0.1); false, with the reason printed, when it is no
// such number or past a million percent. Absent, `share` keeps its value.
bool read_percent_option(const invocation& call, const std::string& option, double& share);

// What a command read: how each file went, and the model's verdict on the
// run's files.
struct read_outcome {
    std::vector<file_report> reports;
    // Why the files are not one run's (files left by an earlier run, gaps in
    // the numbers): as check says it.
    std::vector<std::string> not_one_run;
};
read_outcome outcome_of(const trace_model& model);

// Warns about every file that is not whole and every reason the files are
// not one run's. Returns 1 when a file is malformed or unreadable (its
// records after the problem are lost) or the files are not one run's, as
// check fails them, else 0: a file cut short by a crash still gives
// everything it holds.
int warn_about(const read_outcome& outcome);

// The frame of a command that reads the run and writes one result: loads
// the run, opens the output, lets `produce(layout, out)` write and return
// its read_outcome, and keeps the output only when the trace is fit to use
// (see warn_about). `also_read`: inputs named by options, which the output
// must not overwrite either.
template <typename Produce>
int run_to_output(const invocation& call, Produce produce, const std::vector<std::string>& also_read = {}) {
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    output_file out;
    std::string error;
    std::vector<std::string> inputs = call.positional;
    inputs.insert(inputs.end(), also_read.begin(), also_read.end());
    if (!out.open(call.value("--output"), inputs, error)) {
        print_error(error);
        return 2;
    }
    const read_outcome outcome = produce(layout, out.stream());
    const int status = warn_about(outcome);
    if (status != 0) return status;
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

// The frame of a command whose result a library writes to a path of its own
// (a database, an archive directory) rather than to a stream: -o is
// required (`needs_output` says why), the output is opened by `open(out,
// path, inputs, error)` before the run is read, since reading a large run
// takes a while, filled at its temporary path by `write(run, path, error)`
// from the run analysed to `depth`, and put in place only when whole.
template <typename Output, typename Open, typename Write>
int run_to_path(const invocation& call, const std::string& needs_output, Output& out, Open open, Write write,
                analysis_depth depth = analysis_depth::model_and_graphs) {
    if (!call.has("--output")) {
        print_error(call.command->name + ": " + needs_output + " (see 'mvt-trace " + call.command->name + " --help')");
        return 2;
    }
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    std::string error;
    if (!open(out, call.value("--output"), call.positional, error)) {
        print_error(error);
        return 2;
    }
    run_analysis run = analyze_run(layout, progress_options(call), depth);
    if (const int status = warn_about(outcome_of(run.model)); status != 0) return status;
    if (!write(run, out.temporary_path(), error)) {
        print_error("cannot write " + call.value("--output") + ": " + error);
        return 2;
    }
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

}  // namespace mvt_trace

#endif
