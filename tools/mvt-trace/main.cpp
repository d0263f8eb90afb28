#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/check.h"
#include "output/chrome_output.h"
#include "cli/command_line.h"
#include "output/dot_output.h"
#include "analysis/summary.h"
#include "output/timeline_output.h"
#include "reading/trace_directory.h"

namespace {

using namespace mvt_trace;

std::vector<file_report> run_command(const command_line& cl, const std::vector<trace_file>& files, std::ostream& out) {
    if (cl.command == "summary") return write_summary(files, out);
    if (cl.command == "chrome") return write_chrome(files, out);
    if (cl.command == "dot") return write_dot(files, out);
    timeline_options options;
    options.width = cl.width;
    return write_timeline(files, options, out);
}

// Files that are not whole still give what they hold; say so, and fail only
// for files that are broken rather than cut short.
int report_problems(const std::vector<file_report>& reports) {
    int status = 0;
    for (const file_report& report : reports) {
        if (report.status == file_status::whole) continue;
        std::cerr << "mvt-trace: warning: " << problem_line(report) << "\n";
        if (report.status != file_status::truncated) status = 1;
    }
    return status;
}

int run(const command_line& cl) {
    std::vector<trace_file> files;
    std::string error;
    if (!list_trace_files(cl.trace_path, files, error)) {
        std::cerr << "mvt-trace: " << error << "\n";
        return 2;
    }
    if (cl.command == "check") return write_check(files, std::cout) ? 0 : 1;

    std::unique_ptr<std::ofstream> file;
    std::vector<char> buffer(std::size_t{1} << 20);
    std::ostream* out = &std::cout;
    if (!cl.output_path.empty()) {
        file = std::make_unique<std::ofstream>();
        file->rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        file->open(cl.output_path, std::ios::binary | std::ios::trunc);
        if (!*file) {
            std::cerr << "mvt-trace: cannot write " << cl.output_path << "\n";
            return 2;
        }
        out = file.get();
    }
    std::vector<file_report> reports = run_command(cl, files, *out);
    out->flush();
    if (!*out) {
        std::cerr << "mvt-trace: writing " << (cl.output_path.empty() ? "the output" : cl.output_path) << " failed\n";
        return 2;
    }
    return report_problems(reports);
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    command_line cl;
    std::string error;
    if (!parse_command_line(args, cl, error)) {
        std::cerr << "mvt-trace: " << error << "\n\n" << mvt_trace::usage_text();
        return 2;
    }
    if (cl.command == "help") {
        std::cout << mvt_trace::usage_text();
        return 0;
    }
    return run(cl);
}
