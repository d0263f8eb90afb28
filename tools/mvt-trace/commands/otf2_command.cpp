#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/otf2_output.h"

namespace mvt_trace {

namespace {

int run_otf2(const invocation& call) {
    if (!call.has("--output")) {
        print_error("otf2: -o DIR is required: the archive is a directory (see 'mvt-trace otf2 --help')");
        return 2;
    }
    run_layout layout;
    if (!load_run(call, layout)) return 2;
    output_directory out;
    std::string error;
    // Refused before the run is read: reading a large one takes a while.
    if (!out.open(call.value("--output"), call.positional, error)) {
        print_error(error);
        return 2;
    }
    const run_analysis run = analyze_run(layout, progress_options(call), analysis_depth::model_and_graphs);
    if (const int status = warn_about(outcome_of(run.model, run.reports)); status != 0) return status;
    if (!write_otf2(run, out.temporary_path(), std::string("mvt-trace ") + MVT_TRACE_VERSION, error)) {
        print_error("cannot write " + call.value("--output") + ": " + error);
        return 2;
    }
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return 0;
}

}  // namespace

const command_spec otf2_command = {
    "otf2",
    "DIR [DIR...] -o ARCHIVE",
    "an OTF2 archive for Vampir, Score-P's tools and otf2-print",
    "Writes the run as an OTF2 archive in the directory ARCHIVE, which must not exist; open\n"
    "ARCHIVE/traces.otf2. One location group per DIR (process) and one location per trace\n"
    "file; a region per construct, per node outside a construct, and per name of the\n"
    "executions of no node, with the source place of its code where it is known; an ENTER\n"
    "and a LEAVE for every piece of every execution, in nanoseconds from the run's first\n"
    "timestamp. Each ENTER carries the execution's number (as in mvt-trace sqlite); an\n"
    "execution's first also its node, the executions it waited for (waits_for) and its step\n"
    "on the critical path. OTF2 has no records for a graph: the node-to-node edges, ports,\n"
    "regions of the trace and metadata are left to mvt-trace sqlite.",
    {{"--output", "-o", "ARCHIVE", "the directory to make (required; it must not exist)"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_otf2,
};

}  // namespace mvt_trace
