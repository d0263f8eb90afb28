#ifndef MVT_TRACE_CLI_ARGUMENTS_H
#define MVT_TRACE_CLI_ARGUMENTS_H

#include <string>
#include <vector>

#include "cli/command.h"

namespace mvt_trace {

// Parses the words after the command's name. False, with `error` set to a
// short phrase, when they do not fit the command's synopsis.
bool parse_arguments(const command_spec& command, const std::vector<std::string>& words, invocation& parsed,
                     std::string& error);

// Options that every command takes, whatever its own: "--quiet" ("-q"),
// which keeps progress lines off the terminal. A command reads it as
// call.has("--quiet").
const std::vector<option_spec>& global_options();

// True when the words ask for help ("-h" or "--help" before any "--").
bool asks_for_help(const std::vector<std::string>& words);

}  // namespace mvt_trace

#endif
