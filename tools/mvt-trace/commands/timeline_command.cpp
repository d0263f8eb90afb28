#include <algorithm>
#include <string>

#include "analysis/run_analysis.h"
#include "commands/commands.h"
#include "commands/common.h"
#include "output/timeline_output.h"

namespace mvt_trace {

namespace {

bool parse_width(const std::string& text, unsigned& width) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    width = static_cast<unsigned>(std::stoul(text));
    return width >= 400;
}

int run_timeline(const invocation& call) {
    timeline_options options;
    if (call.has("--width") && !parse_width(call.value("--width"), options.width)) {
        print_error("timeline: --width needs a number of pixels, at least 400 (see 'mvt-trace timeline --help')");
        return 2;
    }
    return run_to_output(call, [&](const run_layout& layout, std::ostream& out) {
        trace_model model = read_model(layout, progress_options(call));
        const run_labels labels(model);
        write_timeline(model, labels, options, out);
        return outcome_of(model);
    });
}

}  // namespace

const command_spec timeline_command = {
    "timeline",
    "DIR",
    "an SVG timeline: one lane per thread",
    "Draws the run as a self-contained SVG picture: one lane per thread, one bar per task\n"
    "execution (nested ones below), coloured by name, with a time axis and a legend.",
    {output_option("the SVG"), {"--width", "", "PX", "picture width in pixels (default 1600, at least 400)"}},
    1,
    1,
    false,
    run_timeline,
};

}  // namespace mvt_trace
