#include "output/check_report.h"

#include <array>

#include "common/terminal_text.h"

namespace mvt_trace {

namespace {

std::string records_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " whole record" : " whole records"); }

}  // namespace

const char* const how_runtimes_reach_the_library =
    "  An OpenMP program on LLVM's libomp loads it through OMP_TOOL_LIBRARIES=/path/to/libmvt_xml.so,\n"
    "  an instrumented runtime through INTEL_LIBITTNOTIFY64=/path/to/libmvt_xml.so;\n"
    "  'mvt-trace record -- PROGRAM' sets both.\n";

// Paths, names and the lines that messages quote come from the trace
// directory: everything from there is made printable.
std::string problem_line(const file_report& report) {
    std::string line = printable(report.path);
    if (report.line != 0) line += ":" + std::to_string(report.line);
    line += ": ";
    if (report.status == file_status::malformed) line += "malformed: ";
    return line + printable(report.message);
}

void write_check_report(const run_health& health, std::ostream& out) {
    std::array<std::size_t, 4> by_status{};
    for (const file_health& f : health.files) {
        ++by_status[static_cast<std::size_t>(f.report.status)];
        if (f.report.status == file_status::whole)
            out << printable(f.report.path) << ": whole, " << records_text(f.report.whole_records) << "\n";
        else
            out << problem_line(f.report) << " (" << records_text(f.report.whole_records) << ")\n";
    }
    const std::size_t files = health.files.size();
    out << files << (files == 1 ? " file: " : " files: ") << by_status[0] << " whole";
    for (std::size_t s = 1; s < by_status.size(); ++s)
        if (by_status[s]) out << ", " << by_status[s] << " " << status_name(static_cast<file_status>(s));
    out << "\n";
    for (const std::string& reason : health.mixed_runs) out << "not one run: " << printable(reason) << "\n";
    if (health.judged_as_run && health.nothing_recorded())
        out << "nothing was recorded: no thread of the program called the library.\n"
            << how_runtimes_reach_the_library;
    for (const std::string& note : health.notes) out << "note: " << printable(note) << "\n";
}

void write_ignored_entries(const std::vector<ignored_entry>& ignored, std::ostream& out) {
    for (const ignored_entry& entry : ignored)
        out << "ignored: " << printable(entry.path) << " (" << printable(entry.reason) << ")\n";
}

}  // namespace mvt_trace
