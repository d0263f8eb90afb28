#ifndef MVT_WRITER_RECORD_CATALOGUE_H
#define MVT_WRITER_RECORD_CATALOGUE_H

#include <mvt_xml/writer.h>

namespace writer {

// Field-type codes of the catalogue.
enum field_type : int {
    field_none = 0,
    field_id = 2,
    field_u64 = 3,
    field_u8 = 9,
    field_string = 13,
    field_wide_string = 14,
};

struct record_description {
    const char* name;
    unsigned long long size;
    int field_types[6];
};

// One row per __itt_record_t value. Only `name` is read by the library; the
// other columns describe the records to readers of the trace.
extern const record_description record_descriptions[__itt_record_count];

// Nanoseconds since the epoch on the real-time clock.
unsigned long long timestamp_now() noexcept;

}  // namespace writer

#endif
