#include "writer/record_catalogue.h"

#include <time.h>

#include "writer/trace_writer.h"

namespace writer {

const record_description record_descriptions[__itt_record_count] = {
    {"definition", 12, {9, 9, 13, 9, 9, 0}},
    {"api_version", 10, {9, 13, 0, 0, 0, 0}},
    {"domain_createA", 18, {3, 9, 13, 0, 0, 0}},
    {"domain_createW", 18, {3, 9, 14, 0, 0, 0}},
    {"id_create", 41, {3, 2, 0, 0, 0, 0}},
    {"id_destroy", 41, {3, 2, 0, 0, 0, 0}},
    {"metadata", 58, {3, 2, 3, 9, 3, 0}},
    {"metadata_stringA", 57, {3, 2, 3, 3, 13, 0}},
    {"metadata_stringW", 57, {3, 2, 3, 3, 14, 0}},
    {"relation", 67, {3, 2, 9, 2, 0, 0}},
    {"string_handle_createA", 18, {3, 9, 13, 0, 0, 0}},
    {"string_handle_createW", 18, {3, 9, 14, 0, 0, 0}},
    {"task_begin", 81, {3, 2, 2, 3, 3, 0}},
    {"task_end", 17, {3, 0, 0, 0, 0, 0}},
    {"task_group", 73, {3, 2, 2, 3, 0, 0}},
    {"region_begin", 73, {3, 2, 2, 3, 0, 0}},
    {"region_end", 41, {3, 2, 0, 0, 0, 0}},
    {"end_of_records", 9, {0, 0, 0, 0, 0, 0}},
};

unsigned long long timestamp_now() noexcept {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
           static_cast<unsigned long long>(now.tv_nsec);
}

void write_begin_record(trace_writer* w, __itt_record_t type) {
    if (!w || type < 0 || type >= __itt_record_count) return;
    w->begin_record();
    w->write_strA(record_descriptions[type].name, 0);
    w->write<unsigned long long>(timestamp_now());
}

}  // namespace writer
