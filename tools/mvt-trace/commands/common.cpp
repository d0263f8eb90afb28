#include "commands/common.h"

#include <iostream>

#include "output/check_report.h"

namespace mvt_trace {

option_spec output_option(const std::string& what) {
    return {"--output", "-o", "FILE", "write " + what + " to FILE instead of standard output"};
}

void print_error(const std::string& message) { std::cerr << "mvt-trace: " << message << "\n"; }

bool load_run(const invocation& call, std::vector<trace_file>& files) {
    std::string error;
    if (list_run(call.positional, files, error)) return true;
    print_error(error);
    return false;
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
