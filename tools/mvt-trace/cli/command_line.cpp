#include "cli/command_line.h"

#include <algorithm>

namespace mvt_trace {

namespace {

const std::vector<std::string> commands = {"check", "summary", "chrome", "dot", "timeline"};

bool parse_width(const std::string& text, unsigned& width) {
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    width = static_cast<unsigned>(std::stoul(text));
    return width >= 400;
}

}  // namespace

const char* usage_text() {
    return "usage: mvt-trace COMMAND TRACE_DIR [options]\n"
           "\n"
           "TRACE_DIR is a trace directory (its _mvt.N files are read) or a single trace file.\n"
           "\n"
           "commands:\n"
           "  check     validate every file; one line per file, the first problem as file:line;\n"
           "            exit status 0 only when every file is whole\n"
           "  summary   per file: records by kind, time span, task executions and regions by\n"
           "            name with count, total and mean duration; then the graph's size\n"
           "  chrome    Chrome Trace Event JSON (open in ui.perfetto.dev or chrome://tracing)\n"
           "  dot       the recorded graph as Graphviz DOT (render with: dot -Tsvg)\n"
           "  timeline  an SVG Gantt chart: one lane per thread, one bar per task execution\n"
           "\n"
           "options:\n"
           "  -o FILE       write the output to FILE instead of standard output\n"
           "  --width PX    timeline width in pixels (default 1600, at least 400)\n"
           "  -h, --help    this text\n"
           "\n"
           "Commands other than check warn about files that are not whole and use the records\n"
           "before the problem; they exit with 1 when a file is malformed or unreadable.\n";
}

bool parse_command_line(const std::vector<std::string>& args, command_line& parsed, std::string& error) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help" || arg == "help") {
            parsed.command = "help";
            return true;
        }
        if (arg == "-o" || arg == "--output" || arg == "--width") {
            if (i + 1 == args.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--width" && !parse_width(value, parsed.width)) {
                error = "--width needs a number of pixels, at least 400";
                return false;
            }
            if (arg != "--width") parsed.output_path = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        error = positional.empty() ? "no command given" : "expected a command and one trace directory";
        return false;
    }
    parsed.command = positional[0];
    parsed.trace_path = positional[1];
    if (std::find(commands.begin(), commands.end(), parsed.command) == commands.end()) {
        error = "unknown command " + parsed.command;
        return false;
    }
    if (parsed.command == "check" && !parsed.output_path.empty()) {
        error = "check writes its report to standard output; -o does not apply";
        return false;
    }
    return true;
}

}  // namespace mvt_trace
