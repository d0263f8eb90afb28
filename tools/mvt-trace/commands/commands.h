#ifndef MVT_TRACE_COMMANDS_COMMANDS_H
#define MVT_TRACE_COMMANDS_COMMANDS_H

#include "cli/command.h"

// Every subcommand of mvt-trace; cli/command_table.cpp lists them in the
// order the help shows them.
namespace mvt_trace {

extern const command_spec record_command;
extern const command_spec check_command;
extern const command_spec summary_command;
extern const command_spec analyze_command;
extern const command_spec timeline_command;
extern const command_spec dot_command;
extern const command_spec chrome_command;
extern const command_spec report_command;
extern const command_spec diff_command;
extern const command_spec predict_command;
extern const command_spec otf2_command;
extern const command_spec sqlite_command;

}  // namespace mvt_trace

#endif
