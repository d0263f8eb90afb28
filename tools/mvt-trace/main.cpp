// mvt-trace: the command line over libmvt_xml's traces. Subcommands in the
// manner of git and perf; exit status 0 on success, 1 when the trace has a
// problem, 2 on a usage or system error.
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command_table.h"

namespace {

using namespace mvt_trace;

int usage_error(const std::string& message, const std::string& help_command) {
    std::cerr << "mvt-trace: " << message << " (see '" << help_command << "')\n";
    return 2;
}

int dispatch(const std::vector<std::string>& words) {
    if (words.empty()) {
        std::cerr << main_help();
        return 2;
    }
    const std::string& first = words[0];
    if (first == "-h" || first == "--help" || (first == "help" && words.size() == 1)) {
        std::cout << main_help();
        return 0;
    }
    if (first == "--version" || first == "version") {
        std::cout << version_text();
        return 0;
    }
    const bool help_for = first == "help";
    const std::string name = help_for ? words[1] : first;
    const command_spec* command = find_command(name);
    if (command == nullptr) return usage_error("'" + name + "' is not a mvt-trace command", "mvt-trace --help");
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (help_for || asks_for_help(rest)) {
        std::cout << command_help(*command);
        return 0;
    }
    invocation call;
    std::string error;
    if (!parse_arguments(*command, rest, call, error))
        return usage_error(name + ": " + error, "mvt-trace " + name + " --help");
    return command->run(call);
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    try {
        return dispatch(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::cerr << "mvt-trace: out of memory\n";
        return 2;
    }
}
