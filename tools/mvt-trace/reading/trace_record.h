#ifndef MVT_TRACE_TRACE_RECORD_H
#define MVT_TRACE_TRACE_RECORD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reading/record_catalogue.h"

namespace mvt_trace {

// An identifier as recorded: three words, the second often a tag that tells
// apart objects sharing one value.
struct trace_id {
    std::uint64_t d1 = 0;
    std::uint64_t d2 = 0;
    std::uint64_t d3 = 0;

    bool is_null() const { return d1 == 0 && d2 == 0 && d3 == 0; }
    friend bool operator==(const trace_id& a, const trace_id& b) {
        return a.d1 == b.d1 && a.d2 == b.d2 && a.d3 == b.d3;
    }
    friend bool operator!=(const trace_id& a, const trace_id& b) { return !(a == b); }
    friend bool operator<(const trace_id& a, const trace_id& b) {
        if (a.d1 != b.d1) return a.d1 < b.d1;
        if (a.d2 != b.d2) return a.d2 < b.d2;
        return a.d3 < b.d3;
    }
};

struct trace_id_hash {
    std::size_t operator()(const trace_id& id) const {
        std::uint64_t h = id.d1 * 0x9E3779B97F4A7C15ull;
        h ^= id.d2 + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
        h ^= id.d3 + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
        return static_cast<std::size_t>(h);
    }
};

struct field_value {
    std::uint64_t number = 0;  // unsigned and small-int fields, the metadata value
    trace_id id;               // identifier fields
    std::string_view text;     // text fields, valid until the next record
};

// One whole record; its text views point into the parser's storage. Code
// reads its fields through the named views of record_fields.h.
struct trace_record {
    record_kind kind = record_kind::end_of_records;
    std::uint64_t timestamp = 0;
    std::uint64_t first_line = 0;
    std::array<field_value, max_fields> fields;
};

}  // namespace mvt_trace

#endif
