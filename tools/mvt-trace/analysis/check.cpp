#include "analysis/check.h"

#include <array>
#include <string>

#include "reading/record_visitor.h"

namespace mvt_trace {

namespace {

class ignore_records : public record_visitor {
public:
    void record(const trace_record&) override {}
};

std::string records_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " whole record" : " whole records"); }

}  // namespace

std::string problem_line(const file_report& report) {
    std::string line = report.path;
    if (report.line != 0) line += ":" + std::to_string(report.line);
    line += ": ";
    if (report.status == file_status::malformed) line += "malformed: ";
    return line + report.message;
}

bool write_check(const std::vector<trace_file>& files, std::ostream& out) {
    ignore_records visitor;
    std::vector<file_report> reports = visit_files(files, visitor);
    std::array<std::size_t, 4> by_status{};
    for (const file_report& report : reports) {
        ++by_status[static_cast<std::size_t>(report.status)];
        if (report.status == file_status::whole)
            out << report.path << ": whole, " << records_text(report.whole_records) << "\n";
        else
            out << problem_line(report) << " (" << records_text(report.whole_records) << ")\n";
    }
    out << reports.size() << (reports.size() == 1 ? " file: " : " files: ") << by_status[0] << " whole";
    for (std::size_t s = 1; s < by_status.size(); ++s)
        if (by_status[s]) out << ", " << by_status[s] << " " << status_name(static_cast<file_status>(s));
    out << "\n";
    return by_status[0] == reports.size();
}

}  // namespace mvt_trace
