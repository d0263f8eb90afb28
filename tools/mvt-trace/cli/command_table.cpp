#include "cli/command_table.h"

#include <algorithm>

#include "cli/arguments.h"
#include "commands/commands.h"

namespace mvt_trace {

namespace {

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size(), ' ');
}

std::string option_words(const option_spec& option) {
    std::string words = option.short_name.empty() ? option.long_name : option.short_name + ", " + option.long_name;
    return option.value_name.empty() ? words : words + " " + option.value_name;
}

}  // namespace

const std::vector<const command_spec*>& all_commands() {
    static const std::vector<const command_spec*> commands = {
        &record_command, &check_command, &summary_command, &analyze_command, &predict_command, &diff_command,
        &report_command, &timeline_command, &dot_command, &chrome_command,
        &otf2_command, &sqlite_command,
    };
    return commands;
}

const command_spec* find_command(const std::string& name) {
    for (const command_spec* command : all_commands())
        if (command->name == name) return command;
    return nullptr;
}

std::string main_help() {
    std::string text =
        "usage: mvt-trace COMMAND [OPTIONS] ARGS\n"
        "       mvt-trace --version | --help | help COMMAND\n"
        "\n"
        "Records programs with libmvt_xml and reads the traces it leaves: one directory per\n"
        "process, one _mvt.N file per thread.\n"
        "\n"
        "commands:\n";
    for (const command_spec* command : all_commands()) text += "  " + padded(command->name, 10) + command->summary + "\n";
    text += "\nRun 'mvt-trace COMMAND --help' for a command's options.\n";
    return text;
}

std::string command_help(const command_spec& command) {
    std::string text = "usage: mvt-trace " + command.name;
    if (!command.options.empty()) text += " [OPTIONS]";
    text += " " + command.arguments + "\n\n" + command.description + "\n";
    std::vector<option_spec> options = command.options;
    options.insert(options.end(), global_options().begin(), global_options().end());
    options.push_back({"--help", "-h", "", "this text"});
    text += "\noptions:\n";
    for (const option_spec& option : options) text += "  " + padded(option_words(option), 22) + option.help + "\n";
    return text;
}

std::string version_text() {
    return std::string("mvt-trace ") + MVT_TRACE_VERSION + " (libmvt_xml " + MVT_TRACE_VERSION + ", " +
           MVT_API_BANNER + ")\n";
}

}  // namespace mvt_trace
