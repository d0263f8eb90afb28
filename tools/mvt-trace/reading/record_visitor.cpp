#include "reading/record_visitor.h"

namespace mvt_trace {

std::vector<file_report> visit_files(const std::vector<trace_file>& files, record_visitor& visitor,
                                     record_kind_set fields_of) {
    return visit_files(files, visitor, field_selection::of_kinds(fields_of));
}

std::vector<file_report> visit_files(const std::vector<trace_file>& files, record_visitor& visitor,
                                     const field_selection& fields) {
    std::vector<file_report> reports;
    reports.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        visitor.begin_file(files[i], i);
        trace_file_reader reader(files[i].path);
        reader.select_fields(fields);
        const trace_record* record = nullptr;
        while (reader.next(record)) visitor.record(*record);
        visitor.end_file(reader.report());
        reports.push_back(reader.report());
    }
    return reports;
}

}  // namespace mvt_trace
