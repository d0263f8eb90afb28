#ifndef MVT_TRACE_RECORD_CATALOGUE_H
#define MVT_TRACE_RECORD_CATALOGUE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mvt_trace {

// The record types a trace may hold, numbered as the writer numbers them:
// both read the one catalogue the library writes with.
enum class record_kind : int {
#define MVT_RECORD(type, ...) type,
#include "writer/record_catalogue.def"
#undef MVT_RECORD
};

constexpr std::size_t record_kind_count = 0
#define MVT_RECORD(...) +1
#include "writer/record_catalogue.def"
#undef MVT_RECORD
    ;

// The catalogue's type codes of the fields after the name and timestamp.
enum class field_code : int { none = 0, identifier = 2, unsigned_64 = 3, small_int = 9, text = 13, wide_text = 14 };

constexpr std::size_t max_fields = 6;

struct catalogue_row {
    std::string_view name;
    std::array<field_code, max_fields> codes;
};

inline constexpr catalogue_row catalogue[record_kind_count] = {
#define MVT_RECORD(type, name, size, f1, f2, f3, f4, f5, f6)                                                     \
    {name,                                                                                                      \
     {field_code(f1), field_code(f2), field_code(f3), field_code(f4), field_code(f5), field_code(f6)}},
#include "writer/record_catalogue.def"
#undef MVT_RECORD
};

// What one field after the timestamp holds, as the reader reads it.
enum class field_kind : unsigned char {
    identifier,   // five lines: three unsigned 64-bit words in a compound field
    unsigned_64,  // decimal, 1 to 20 digits
    small_int,    // 0 to 255, written as a signed int
    narrow_text,  // any bytes, possibly spanning lines
    wide_text,    // nothing writes one; read like narrow text
    value_bytes,  // the metadata value: an unsigned decimal
};

struct record_layout {
    std::string_view name;
    std::size_t field_count = 0;
    std::array<field_kind, max_fields> fields{};
};

// The layout of a record kind, from its catalogue row: metadata carries its
// value after the fields its codes list.
const record_layout& layout_of(record_kind kind);

// The kind whose name is exactly text, or false.
bool find_record_kind(std::string_view text, record_kind& kind);

std::string_view record_name(record_kind kind);

// "is_parent_of" and so on; "relation_N" for codes outside the published set.
std::string relation_name(int code);

// Relation codes of the instrumentation API that the model reads.
constexpr int relation_is_parent_of = 3;
constexpr int relation_is_child_of = 5;
constexpr int relation_is_predecessor_to = 7;

}  // namespace mvt_trace

#endif
