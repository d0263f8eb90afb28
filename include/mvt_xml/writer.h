#ifndef MVT_XML_WRITER_H
#define MVT_XML_WRITER_H

// Low-level access to the trace output for callers that compose their own
// records. Most clients use the __itt_* functions of mvt_xml/itt.h instead.

#include "mvt_xml/export.h"

// Record types; the value is the row of the record catalogue.
enum __itt_record_t {
    __itt_record_definition = 0,
    __itt_record_api_version,
    __itt_record_domain_createA,
    __itt_record_domain_createW,
    __itt_record_id_create,
    __itt_record_id_destroy,
    __itt_record_metadata,
    __itt_record_metadata_stringA,
    __itt_record_metadata_stringW,
    __itt_record_relation,
    __itt_record_string_handle_createA,
    __itt_record_string_handle_createW,
    __itt_record_task_begin,
    __itt_record_task_end,
    __itt_record_task_group,
    __itt_record_region_begin,
    __itt_record_region_end,
    __itt_record_end_of_records,
    __itt_record_count
};

namespace writer {

class trace_writer;
class mvt_collector;

// Opens a record on `w`: "<record>", the record's name, the current time.
// The caller writes the record's own fields and then closes it.
// Does nothing for a null writer or a type outside the catalogue.
MVT_API void write_begin_record(trace_writer* w, __itt_record_t type);

// The process-wide collector that owns every trace file.
MVT_API mvt_collector* get_mtc();

}  // namespace writer

#endif
