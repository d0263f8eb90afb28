#include <limits>
#include <optional>
#include <string>

#include "analysis/run_analysis.h"
#include "analysis/run_comparison.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/report/report_data.h"

namespace mvt_trace {

namespace {

int run_report(const invocation& call) {
    report_options options;
    comparison_options compared;
    if (!read_count_option(call, "--max-executions", options.limits.max_executions) ||
        !read_count_option(call, "--max-nodes", options.max_nodes) ||
        !read_percent_option(call, "--threshold", compared.threshold))
        return 2;
    const bool with_baseline = call.has("--baseline");
    std::vector<std::string> baseline_paths;
    run_layout baseline_layout;
    if (with_baseline) {
        baseline_paths.push_back(call.value("--baseline"));
        if (!load_run(baseline_paths, baseline_layout)) return 2;
    } else if (call.has("--threshold")) {
        print_error("report: --threshold needs --baseline (see 'mvt-trace report --help')");
        return 2;
    }
    return run_to_output(
        call,
        [&](const run_layout& layout, std::ostream& out) {
            read_outcome outcome;
            // The baseline is read first and kept as the comparison needs
            // it, so that one analysis is in memory at a time.
            run_digest base;
            if (with_baseline) {
                const run_analysis base_run = analyze_run(baseline_layout, progress_options(call));
                base = digest_run(base_run);
                outcome = outcome_of(base_run.model);
            }
            const run_analysis run = analyze_run(layout, progress_options(call));
            std::optional<run_comparison> comparison;
            if (with_baseline) comparison = compare_digests(base, digest_run(run), compared);
            options.comparison = comparison ? &*comparison : nullptr;
            write_report(run, options, out);
            read_outcome read = outcome_of(run.model);
            outcome.reports.insert(outcome.reports.end(), read.reports.begin(), read.reports.end());
            outcome.not_one_run.insert(outcome.not_one_run.end(), read.not_one_run.begin(), read.not_one_run.end());
            return outcome;
        },
        baseline_paths);
}

}  // namespace

const command_spec report_command = {
    "report",
    "DIR [DIR...]",
    "one HTML page that shows the run: timeline, graph, statistics",
    "Writes one self-contained HTML page (scripts, styles and drawings inside; it fetches\n"
    "nothing and opens from disk in any current browser) that shows the run: what was run and\n"
    "the problems and notes found; a timeline with one lane per thread to zoom (wheel, +/-,\n"
    "drag with Shift, double-click) and pan (drag, arrow keys), where a click on a bar shows\n"
    "its record; how many executions ran at each moment; the graph as 'mvt-trace dot' draws\n"
    "it, laid out by Graphviz, with the critical path; and the statistics of every node and\n"
    "construct. A click on a node in the table, the critical path or a bar's record finds it\n"
    "in the graph. Several DIRs are several processes of one program.\n"
    "\n"
    "The page stays small enough for a browser however large the trace: past\n"
    "--max-executions, the shortest executions are drawn as grey blocks that say how many they\n"
    "hold; a run of many task nodes is drawn as its constructs, with the instance graph one\n"
    "click away, past --max-nodes the critical path and the nodes with the most time; the table\n"
    "lists the 5,000 nodes with the most time and the critical path ('mvt-trace analyze' lists\n"
    "them all). Without Graphviz's dot the page says so in place of the graph.\n"
    "\n"
    "With --baseline BASE, an earlier run of the program (a directory of traces, or one made\n"
    "by 'mvt-trace record' with all its processes), the page also compares the two as\n"
    "'mvt-trace diff BASE DIR' does: what regressed, every construct before and after, and\n"
    "the whole run.",
    {output_option("the page"),
     {"--max-executions", "", "N", "executions drawn one by one, the longest first (default 150000)"},
     {"--max-nodes", "", "N", "graph nodes drawn, the critical path and the heaviest first (default 400)"},
     {"--baseline", "", "BASE", "compare with the run in BASE, as diff does"},
     {"--threshold", "", "PCT", "with --baseline: the growth that counts as a regression (default 10)"}},
    1,
    std::numeric_limits<std::size_t>::max(),
    false,
    run_report,
};

}  // namespace mvt_trace
