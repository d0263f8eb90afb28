#include "output/check_report.h"

#include <array>

#include "common/terminal_text.h"
#include "common/text_format.h"
#include "output/analyze_problems.h"

namespace mvt_trace {

namespace {

std::string records_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " whole record" : " whole records"); }

// One process: its files, its total, its problems and notes. True when it
// is sound.
bool write_process(const trace_model& model, std::uint32_t p, std::ostream& out) {
    const trace_model::process& process = model.processes()[p];
    std::array<std::size_t, 4> by_status{};
    bool sound = true, cut_by_exec = false;
    std::uint64_t records = 0;
    for (std::uint32_t t = process.first_thread; t < process.first_thread + process.thread_count; ++t) {
        const trace_model::thread& thread = model.threads()[t];
        const file_report& report = thread.report;
        records += thread.records;
        ++by_status[static_cast<std::size_t>(report.status)];
        if (report.status == file_status::whole)
            out << printable(report.path) << ": whole, " << records_text(report.whole_records) << "\n";
        else
            out << printable(problem_line(report)) << " (" << records_text(report.whole_records) << ")\n";
    }
    const std::size_t files = process.thread_count;
    out << files << (files == 1 ? " file: " : " files: ") << by_status[0] << " whole";
    for (std::size_t s = 1; s < by_status.size(); ++s)
        if (by_status[s]) out << ", " << by_status[s] << " " << status_name(static_cast<file_status>(s));
    out << "\n";
    for (const finding& f : model.findings()) {
        if (f.process != p) continue;
        if (f.kind == finding_kind::ended_by_exec) cut_by_exec = true;
        if (severity_of(f.kind) != severity::problem) continue;
        sound = false;
        if (f.kind == finding_kind::file_not_whole) continue;  // said above
        out << (f.kind == finding_kind::not_one_run ? "" : "problem: ") << printable(finding_text(f, model)) << "\n";
    }
    // A file picked out of a directory may be one its run never used.
    if (records == 0 && files > 0 && is_directory(process.directory))
        out << "nothing was recorded: no thread of the program called the library.\n"
            << how_runtimes_reach_the_library;
    for (const finding& f : model.findings())
        if (f.process == p && severity_of(f.kind) == severity::note)
            out << "note: " << printable(finding_text(f, model)) << "\n";
    if (sound && cut_by_exec) out << "process whole up to its exec\n";
    return sound;
}

}  // namespace

const char* const how_runtimes_reach_the_library =
    "  An OpenMP program on LLVM's libomp loads it through OMP_TOOL_LIBRARIES=/path/to/libmvt_xml.so,\n"
    "  an instrumented runtime through INTEL_LIBITTNOTIFY64=/path/to/libmvt_xml.so;\n"
    "  'mvt-trace record -- PROGRAM' sets both.\n";

bool write_check_report(const trace_model& model, const run_layout& layout, std::ostream& out) {
    const bool several = model.processes().size() > 1;
    bool sound = true;
    for (std::uint32_t p = 0; p < model.processes().size(); ++p) {
        const trace_model::process& process = model.processes()[p];
        if (several) out << "process " << printable(process.label) << ", " << printable(process.directory) << ":\n";
        sound = write_process(model, p, out) && sound;
        if (several) out << "\n";
    }
    for (const finding& f : model.findings()) {
        if (f.process != no_index) continue;
        const bool problem = severity_of(f.kind) == severity::problem;
        sound = sound && !problem;
        out << (problem ? "problem: " : "note: ") << printable(finding_text(f, model)) << "\n";
    }
    if (several || !layout.untraced.empty()) {
        out << counted(model.processes().size(), "process", "processes") << " traced: "
            << (sound ? "all whole" : "NOT all whole");
        if (!layout.untraced.empty())
            out << "; " << counted(layout.untraced.size(), "more process", "more processes")
                << " never loaded the library";
        out << "\n";
    }
    return sound;
}

void write_ignored_entries(const std::vector<ignored_entry>& ignored, std::ostream& out) {
    for (const ignored_entry& entry : ignored)
        out << "ignored: " << printable(entry.path) << " (" << printable(entry.reason) << ")\n";
}

}  // namespace mvt_trace
