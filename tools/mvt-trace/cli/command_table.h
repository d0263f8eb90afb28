#ifndef MVT_TRACE_CLI_COMMAND_TABLE_H
#define MVT_TRACE_CLI_COMMAND_TABLE_H

#include <string>
#include <vector>

#include "cli/command.h"

namespace mvt_trace {

// Every subcommand, in the order the help lists them.
const std::vector<const command_spec*>& all_commands();

// The command of that name, or null.
const command_spec* find_command(const std::string& name);

// The text of "mvt-trace --help".
std::string main_help();
// The text of "mvt-trace COMMAND --help".
std::string command_help(const command_spec& command);
// The text of "mvt-trace --version".
std::string version_text();

}  // namespace mvt_trace

#endif
