#ifndef MVT_TRACE_CLI_COMMAND_H
#define MVT_TRACE_CLI_COMMAND_H

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mvt_trace {

// One option of a command: a flag ("--json") or an option with a value
// ("-o FILE"). A flag has no value_name.
struct option_spec {
    std::string long_name;   // "--output"
    std::string short_name;  // "-o", or empty
    std::string value_name;  // "FILE"; empty for a flag
    std::string help;
};

struct invocation;

// A subcommand as the user meets it: its synopsis, its help text and what
// it runs. `run` returns the exit status: 0 success, 1 a problem found in
// the trace, 2 a usage or system error.
struct command_spec {
    std::string name;
    std::string arguments;    // synopsis after the name and options: "DIR [DIR...]"
    std::string summary;      // one line in the command list
    std::string description;  // what COMMAND --help explains
    std::vector<option_spec> options;
    std::size_t min_positional = 1;
    std::size_t max_positional = 1;
    // Everything after "--" belongs to the command (record runs it).
    bool takes_program = false;
    int (*run)(const invocation&) = nullptr;
};

// A parsed command line; options are keyed by their long name.
struct invocation {
    const command_spec* command = nullptr;
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // the last value of each option
    std::map<std::string, std::vector<std::string>> every_value;  // each value, for options given more than once
    std::vector<std::string> program;  // the words after "--", for a command that takes a program
    // For any other command "--" splits the positional words in two lists
    // (diff's two runs), options still allowed on either side: this is how
    // many came before it, when there was one.
    std::optional<std::size_t> separator;

    bool has(const std::string& long_name) const { return values.count(long_name) != 0; }
    std::string value(const std::string& long_name, const std::string& fallback = "") const {
        auto found = values.find(long_name);
        return found == values.end() ? fallback : found->second;
    }
    std::vector<std::string> all_values(const std::string& long_name) const {
        auto found = every_value.find(long_name);
        return found == every_value.end() ? std::vector<std::string>{} : found->second;
    }
};

}  // namespace mvt_trace

#endif
