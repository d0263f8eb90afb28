#include "commands/common.h"

#include <algorithm>
#include <iostream>

#include "common/terminal_text.h"
#include "output/check_report.h"

namespace mvt_trace {

option_spec output_option(const std::string& what) {
    return {"--output", "-o", "FILE", "write " + what + " to FILE instead of standard output"};
}

// Messages name files, and a file name can hold any byte but '/' and NUL.
void print_error(const std::string& message) { std::cerr << "mvt-trace: " << printable(message) << "\n"; }

bool load_run(const invocation& call, std::vector<trace_file>& files, std::vector<ignored_entry>& ignored) {
    std::string error;
    if (list_run(call.positional, files, ignored, error)) return true;
    print_error(error);
    return false;
}

pass_options progress_options(const invocation&) { return {}; }

bool load_run(const invocation& call, std::vector<trace_file>& files) {
    std::vector<ignored_entry> ignored;
    if (!load_run(call, files, ignored)) return false;
    for (const ignored_entry& entry : ignored)
        if (entry.trace_name) print_error("warning: " + entry.path + ": " + entry.reason);
    return true;
}

bool read_count_option(const invocation& call, const std::string& option, std::size_t& count) {
    if (!call.has(option)) return true;
    const std::string text = call.value(option);
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        print_error(call.command->name + ": " + option + " needs a number (see 'mvt-trace " + call.command->name +
                    " --help')");
        return false;
    }
    count = static_cast<std::size_t>(std::stoul(text));
    return true;
}

int warn_about(const std::vector<file_report>& reports) {
    int status = 0;
    for (const file_report& report : reports) {
        if (report.status == file_status::whole) continue;
        std::cerr << "mvt-trace: warning: " << problem_line(report) << "\n";
        if (report.status != file_status::truncated) status = 1;
    }
    return status;
}

}  // namespace mvt_trace
