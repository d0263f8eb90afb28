#ifndef MVT_TRACE_RECORD_VISITOR_H
#define MVT_TRACE_RECORD_VISITOR_H

#include <cstddef>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"
#include "reading/trace_record.h"

namespace mvt_trace {

// What a command does with the records of a run, file after file.
class record_visitor {
public:
    virtual ~record_visitor() = default;
    virtual void begin_file(const trace_file& /*file*/, std::size_t /*position*/) {}
    virtual void record(const trace_record& record) = 0;
    virtual void end_file(const file_report& /*report*/) {}
};

// Streams every file through the visitor; one report per file, in order.
// Records of kinds outside `fields_of` come without their fields (see
// record_parser::read_fields_of).
std::vector<file_report> visit_files(const std::vector<trace_file>& files, record_visitor& visitor,
                                     record_kind_set fields_of = every_record_kind);
// The same, with only the chosen fields of each kind read.
std::vector<file_report> visit_files(const std::vector<trace_file>& files, record_visitor& visitor,
                                     const field_selection& fields);

}  // namespace mvt_trace

#endif
