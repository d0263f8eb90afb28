#include "commands/common.h"

#include <algorithm>
#include <iostream>

#include "common/text_format.h"
#include "output/check_report.h"

namespace mvt_trace {

option_spec output_option(const std::string& what) {
    return {"--output", "-o", "FILE", "write " + what + " to FILE instead of standard output"};
}

void print_error(const std::string& message) { std::cerr << "mvt-trace: " << message << "\n"; }

bool load_run(const invocation& call, run_layout& layout) {
    std::string error;
    if (read_run_layout(call.positional, layout, error)) return true;
    print_error(error);
    return false;
}

std::string process_verdict(const traced_process& process, const run_health& health, bool& sound) {
    sound = health.sound();
    if (sound) return "whole";
    std::size_t cut_short = 0, broken = 0;
    for (const file_health& file : health.files) {
        if (file.report.status == file_status::truncated) ++cut_short;
        else if (file.report.status != file_status::whole) ++broken;
    }
    if (broken == 0 && health.mixed_runs.empty() && process.facts && process.facts->ending == "exec") {
        sound = true;
        return "whole up to its exec";
    }
    std::string verdict = "NOT whole";
    if (cut_short + broken != 0) verdict += ": " + counted(cut_short + broken, "file", "files") + " cut short";
    if (broken != 0) verdict += " or malformed";
    return verdict;
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
