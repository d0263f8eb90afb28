#ifndef MVT_TRACE_COMMAND_LINE_H
#define MVT_TRACE_COMMAND_LINE_H

#include <string>
#include <vector>

namespace mvt_trace {

struct command_line {
    std::string command;      // check, summary, chrome, dot, timeline, help
    std::string trace_path;   // a trace directory or one trace file
    std::string output_path;  // empty: standard output
    unsigned width = 1600;
};

// False, with error set, when the arguments make no sense.
bool parse_command_line(const std::vector<std::string>& args, command_line& parsed, std::string& error);

const char* usage_text();

}  // namespace mvt_trace

#endif
