#include "cli/arguments.h"

namespace mvt_trace {

namespace {

bool names(const option_spec& option, const std::string& word) {
    return word == option.long_name || (!option.short_name.empty() && word == option.short_name);
}

// A command's own options come first, so that one may give a global name a
// meaning of its own.
const option_spec* find_option(const command_spec& command, const std::string& word) {
    for (const option_spec& option : command.options)
        if (names(option, word)) return &option;
    for (const option_spec& option : global_options())
        if (names(option, word)) return &option;
    return nullptr;
}

// "DIR [DIR...]" -> "DIR": what a missing first argument is called.
std::string first_argument_name(const command_spec& command) {
    return command.arguments.substr(0, command.arguments.find(' '));
}

}  // namespace

const std::vector<option_spec>& global_options() {
    static const std::vector<option_spec> options = {
        {"--quiet", "-q", "", "no progress line on the terminal while the trace is read"},
    };
    return options;
}

bool asks_for_help(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") return false;
        if (word == "-h" || word == "--help") return true;
    }
    return false;
}

bool parse_arguments(const command_spec& command, const std::vector<std::string>& words, invocation& parsed,
                     std::string& error) {
    parsed.command = &command;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        if (word == "--" && command.takes_program) {
            parsed.program.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
            break;
        }
        if (word == "--") {
            if (parsed.separator) {
                error = "'--' given twice";
                return false;
            }
            parsed.separator = parsed.positional.size();
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {
            parsed.positional.push_back(word);
            continue;
        }
        // "--output=FILE" means "--output FILE".
        std::string value;
        bool attached = false;
        const std::size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.erase(equals);
            attached = true;
        }
        const option_spec* option = find_option(command, word);
        if (option == nullptr) {
            error = "unknown option '" + word + "'";
            return false;
        }
        if (option->value_name.empty()) {
            if (attached) {
                error = option->long_name + " takes no value";
                return false;
            }
            parsed.values[option->long_name] = "";
            continue;
        }
        if (!attached) {
            if (i + 1 == words.size()) {
                error = word + " needs a value (" + option->value_name + ")";
                return false;
            }
            value = words[++i];
        }
        parsed.values[option->long_name] = value;
        parsed.every_value[option->long_name].push_back(value);
    }
    if (command.takes_program && parsed.program.empty()) {
        error = "no program to run: give it after '--'";
        return false;
    }
    if (parsed.positional.size() < command.min_positional) {
        error = "missing " + first_argument_name(command);
        return false;
    }
    if (parsed.positional.size() > command.max_positional) {
        error = "unexpected argument '" + parsed.positional[command.max_positional] + "'";
        return false;
    }
    return true;
}

}  // namespace mvt_trace
