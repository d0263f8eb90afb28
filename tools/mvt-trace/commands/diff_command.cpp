#include <limits>
#include <string>
#include <vector>

#include "analysis/run_analysis.h"
#include "analysis/run_comparison.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/diff_json.h"
#include "output/diff_text.h"

namespace mvt_trace {

namespace {

// BASE NEW, or BASE... -- NEW...: a run that is one directory (a record run
// directory holds all its processes) needs no separator.
bool split_runs(const invocation& call, std::vector<std::string>& base, std::vector<std::string>& fresh) {
    const std::vector<std::string>& words = call.positional;
    const std::size_t split = call.separator ? *call.separator : 1;
    if (call.separator ? split == 0 || split == words.size() : words.size() != 2) {
        print_error("diff: give two runs, BASE NEW, or the directories of each, BASE... -- NEW... (see 'mvt-trace "
                    "diff --help')");
        return false;
    }
    base.assign(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(split));
    fresh.assign(words.begin() + static_cast<std::ptrdiff_t>(split), words.end());
    return true;
}

// One run analysed and boiled down to what the comparison needs, so that
// only one analysis is in memory at a time. False when a file of it is
// malformed or unreadable, or its files are not one run's: a comparison of
// half a run would flag or clear constructs for no reason.
bool digest(const invocation& call, const run_layout& layout, run_digest& out) {
    const run_analysis run = analyze_run(layout, progress_options(call));
    if (warn_about(outcome_of(run.model)) != 0) return false;
    out = digest_run(run);
    return true;
}

int run_diff(const invocation& call) {
    comparison_options options;
    std::vector<std::string> base_paths, fresh_paths;
    if (!read_percent_option(call, "--threshold", options.threshold) || !split_runs(call, base_paths, fresh_paths)) return 2;
    run_layout base_layout, fresh_layout;
    if (!load_run(base_paths, base_layout) || !load_run(fresh_paths, fresh_layout)) return 2;
    output_file out;
    std::string error;
    if (!out.open(call.value("--output"), call.positional, error)) {
        print_error(error);
        return 2;
    }
    run_digest base, fresh;
    const bool base_whole = digest(call, base_layout, base);
    const bool fresh_whole = digest(call, fresh_layout, fresh);
    if (!base_whole || !fresh_whole) {
        print_error("diff: a trace file could not be read whole; nothing compared");
        return 2;
    }
    const run_comparison comparison = compare_digests(base, fresh, options);
    if (call.has("--json"))
        write_comparison_json(comparison, out.stream());
    else
        write_comparison_text(comparison, out.stream());
    if (!out.commit(error)) {
        print_error(error);
        return 2;
    }
    return comparison.regressions() == 0 ? 0 : 1;
}

}  // namespace

const command_spec diff_command = {
    "diff",
    "BASE NEW | BASE... -- NEW...",
    "what got slower from one run to another, fit for CI",
    "Compares two runs of one program: BASE, before a change, and NEW, after it. Each is a\n"
    "directory of traces or a directory made by 'mvt-trace record', whose processes are all\n"
    "of that run; a run given as one directory per process is written BASE... -- NEW....\n"
    "\n"
    "Constructs are matched by label, never by address or identifier, which change from run\n"
    "to run: OpenMP tasks by the source place of their code (record with 'mvt-trace record' a\n"
    "program built with -g; else the label is an address, which moves with the code),\n"
    "flow-graph nodes by name, else by kind and ordinal ('function_node 2'). Tasks of no node\n"
    "(OpenMP tasks without dependences) are compared by name. For each, base and new side by\n"
    "side: executions, total, mean, median and 95th percentile; the change of the mean (+100 %\n"
    "is twice as long); and a Mann-Whitney rank test of the two sets of execution times,\n"
    "two-sided at 1 % (exact for small samples without ties, else the normal approximation\n"
    "with tie correction). When too few executions leave the test unable to reach 1 % (the\n"
    "least are 5 and 5, 4 and 6, 3 and 9, 2 and 19), it says so rather than guess.\n"
    "\n"
    "A construct regressed when the test is significant, its executions are slower by the\n"
    "ranks, and its median grew by more than the threshold. The test alone finds significant\n"
    "the shift of a percent that a busy machine makes between runs; the mean moves with a few\n"
    "preempted executions, in either run, so it can fake a slowdown or hide one; the median\n"
    "ignores both, and slower code moves it as much as the mean. So a slowdown of fewer than\n"
    "half the executions is shown, but not flagged.\n"
    "\n"
    "Also compares the whole run (wall time, work, span, parallelism, concurrency) and lists\n"
    "the constructs added and removed.\n"
    "\n"
    "Exit status: 0 when nothing regressed, 1 when something did, 2 for a usage or system\n"
    "error or a trace file that cannot be read whole.",
    {output_option("the comparison"), {"--json", "", "", "print one JSON object instead of text (see the README)"},
     {"--threshold", "", "PCT", "the growth of the median that counts as a regression (default 10)"}},
    2,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_diff,
};

}  // namespace mvt_trace
