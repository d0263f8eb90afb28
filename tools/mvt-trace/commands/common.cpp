#include "commands/common.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "common/progress_line.h"
#include "common/terminal_text.h"

namespace mvt_trace {

option_spec output_option(const std::string& what) {
    return {"--output", "-o", "FILE", "write " + what + " to FILE instead of standard output"};
}

// Messages name files, and a file name can hold any byte but '/' and NUL.
void print_error(const std::string& message) { std::cerr << "mvt-trace: " << printable(message) << "\n"; }

bool load_run(const invocation& call, run_layout& layout) { return load_run(call.positional, layout); }

bool load_run(const std::vector<std::string>& paths, run_layout& layout) {
    std::string error;
    if (!read_run_layout(paths, layout, error)) {
        print_error(error);
        return false;
    }
    for (const ignored_entry& entry : layout.ignored)
        if (entry.trace_name) print_error("warning: " + entry.path + ": " + entry.reason);
    return true;
}

pass_options progress_options(const invocation& call) {
    pass_options options;
    if (!progress_line::wanted_on_standard_error(call.has("--quiet"))) return options;
    // The line lives as long as the options that draw it, and is cleared
    // when the last copy goes.
    auto line = std::make_shared<progress_line>(std::cerr, true);
    options.progress = [line](std::uint64_t done, std::uint64_t total) {
        line->update(done, total);
        if (done >= total) line->finish();
    };
    return options;
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

bool read_percent_option(const invocation& call, const std::string& option, double& share) {
    if (!call.has(option)) return true;
    std::string text = call.value(option);
    if (!text.empty() && text.back() == '%') text.pop_back();
    std::size_t digits = 0, points = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else
            points = 2;
    }
    // A million percent, a mean ten thousand times as long, is as far as a
    // threshold makes sense.
    const double value = digits && points < 2 && text.size() <= 12 ? std::strtod(text.c_str(), nullptr) : -1;
    if (!(value >= 0 && value <= 1e6)) {
        print_error(call.command->name + ": " + option + " needs a percentage such as 10 or 2.5 (see 'mvt-trace " +
                    call.command->name + " --help')");
        return false;
    }
    share = value / 100;
    return true;
}

read_outcome outcome_of(const trace_model& model) {
    read_outcome outcome;
    for (const trace_model::thread& t : model.threads()) outcome.reports.push_back(t.report);
    for (const finding& f : model.findings())
        if (f.kind == finding_kind::not_one_run) outcome.not_one_run.push_back(finding_text(f, model));
    return outcome;
}

int warn_about(const read_outcome& outcome) {
    int status = 0;
    for (const file_report& report : outcome.reports) {
        if (report.status == file_status::whole) continue;
        print_error("warning: " + problem_line(report));
        if (report.status != file_status::truncated) status = 1;
    }
    for (const std::string& reason : outcome.not_one_run) {
        print_error("warning: " + reason + " (see: mvt-trace check)");
        status = 1;
    }
    return status;
}

}  // namespace mvt_trace
