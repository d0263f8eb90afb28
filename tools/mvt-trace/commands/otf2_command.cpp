#include <limits>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/otf2_output.h"

namespace mvt_trace {

namespace {

int run_otf2(const invocation& call) {
    output_directory out;
    return run_to_path(
        call, "-o DIR is required: the archive is a directory", out,
        [](auto& output, const std::string& path, const std::vector<std::string>& inputs, std::string& error) {
            return output.open(path, inputs, error);
        },
        [](const run_analysis& run, const std::string& path, std::string& error) {
            return write_otf2(run, path, std::string("mvt-trace ") + MVT_TRACE_VERSION, error);
        });
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
