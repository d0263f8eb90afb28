#include "output/check_report.h"

#include <array>

#include "common/terminal_text.h"
#include "output/analyze_problems.h"

namespace mvt_trace {

namespace {

std::string records_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " whole record" : " whole records"); }

}  // namespace

const char* const how_runtimes_reach_the_library =
    "  An OpenMP program on LLVM's libomp loads it through OMP_TOOL_LIBRARIES=/path/to/libmvt_xml.so,\n"
    "  an instrumented runtime through INTEL_LIBITTNOTIFY64=/path/to/libmvt_xml.so;\n"
    "  'mvt-trace record -- PROGRAM' sets both.\n";

bool write_check_report(const trace_model& model, std::ostream& out) {
    std::array<std::size_t, 4> by_status{};
    bool sound = true;
    for (const trace_model::thread& t : model.threads()) {
        const file_report& report = t.report;
        ++by_status[static_cast<std::size_t>(report.status)];
        if (report.status == file_status::whole) {
            out << printable(report.path) << ": whole, " << records_text(report.whole_records) << "\n";
        } else {
            out << printable(problem_line(report)) << " (" << records_text(report.whole_records) << ")\n";
            sound = false;
        }
    }
    const std::size_t files = model.threads().size();
    out << files << (files == 1 ? " file: " : " files: ") << by_status[0] << " whole";
    for (std::size_t s = 1; s < by_status.size(); ++s)
        if (by_status[s]) out << ", " << by_status[s] << " " << status_name(static_cast<file_status>(s));
    out << "\n";
    std::uint64_t records = 0;
    for (const trace_model::thread& t : model.threads()) records += t.records;
    for (const finding& f : model.findings()) {
        if (severity_of(f.kind) != severity::problem || f.kind == finding_kind::file_not_whole) continue;
        sound = false;
        out << (f.kind == finding_kind::not_one_run ? "" : "problem: ") << printable(finding_text(f, model)) << "\n";
    }
    // A file picked out of a directory may be one its run never used.
    bool whole_runs = true;
    for (const trace_model::process& p : model.processes()) whole_runs = whole_runs && is_directory(p.directory);
    if (records == 0 && files > 0 && whole_runs)
        out << "nothing was recorded: no thread of the program called the library.\n"
            << how_runtimes_reach_the_library;
    for (const finding& f : model.findings())
        if (severity_of(f.kind) == severity::note) out << "note: " << printable(finding_text(f, model)) << "\n";
    return sound;
}

void write_ignored_entries(const std::vector<ignored_entry>& ignored, std::ostream& out) {
    for (const ignored_entry& entry : ignored)
        out << "ignored: " << printable(entry.path) << " (" << printable(entry.reason) << ")\n";
}

}  // namespace mvt_trace
