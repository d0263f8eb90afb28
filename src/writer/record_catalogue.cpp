#include "writer/record_catalogue.h"

#include <time.h>

#include "writer/trace_writer.h"

namespace writer {

// Each row is checked against the enumerator it stands for, so the table
// and __itt_record_t cannot drift apart.
#define MVT_RECORD(type, name, size, f1, f2, f3, f4, f5, f6) {name, size, {f1, f2, f3, f4, f5, f6}},
const record_description record_descriptions[__itt_record_count] = {
#include "writer/record_catalogue.def"
};
#undef MVT_RECORD

namespace {
constexpr __itt_record_t catalogue_order[] = {
#define MVT_RECORD(type, ...) __itt_record_##type,
#include "writer/record_catalogue.def"
#undef MVT_RECORD
};
constexpr bool in_enumeration_order() {
    for (int i = 0; i < __itt_record_count; ++i)
        if (catalogue_order[i] != i) return false;
    return true;
}
static_assert(sizeof catalogue_order / sizeof catalogue_order[0] == __itt_record_count && in_enumeration_order(),
              "one catalogue row per record type, in the order of __itt_record_t");
}  // namespace

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
