#ifndef MVT_TRACE_RECORD_CATALOGUE_H
#define MVT_TRACE_RECORD_CATALOGUE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace mvt_trace {

// The record types a trace may hold, numbered as the writer numbers them.
enum class record_kind : int {
    definition = 0,
    api_version,
    domain_create_a,
    domain_create_w,
    id_create,
    id_destroy,
    metadata,
    metadata_string_a,
    metadata_string_w,
    relation,
    string_handle_create_a,
    string_handle_create_w,
    task_begin,
    task_end,
    task_group,
    region_begin,
    region_end,
    end_of_records,
};

constexpr std::size_t record_kind_count = 18;

// What one field after the timestamp holds.
enum class field_kind : unsigned char {
    identifier,   // five lines: three unsigned 64-bit words in a compound field
    unsigned_64,  // decimal, 1 to 20 digits
    small_int,    // 0 to 255, written as a signed int
    narrow_text,  // any bytes, possibly spanning lines
    wide_text,    // nothing writes one; read like narrow text
    value_bytes,  // the metadata value: an unsigned decimal
};

constexpr std::size_t max_fields = 6;

struct record_layout {
    std::string_view name;
    std::size_t field_count;
    std::array<field_kind, max_fields> fields;
};

const record_layout& layout_of(record_kind kind);

// A set of record kinds, one bit each.
using record_kind_set = std::uint32_t;
constexpr record_kind_set every_record_kind = (record_kind_set{1} << record_kind_count) - 1;
constexpr record_kind_set kind_bit(record_kind kind) { return record_kind_set{1} << static_cast<int>(kind); }

// Which fields a read wants of each kind of record: bit i of wanted[kind]
// for field i. A kind with a text field is read whole whatever is asked:
// its length depends on the text.
// The bits of the given field positions, for field_selection::with.
constexpr std::uint8_t field_bits(std::initializer_list<int> positions) {
    std::uint8_t bits = 0;
    for (int p : positions) bits = static_cast<std::uint8_t>(bits | 1u << p);
    return bits;
}

struct field_selection {
    std::array<std::uint8_t, record_kind_count> wanted{};

    // Every field of the kinds in the set, none of the others.
    static field_selection of_kinds(record_kind_set kinds);
    field_selection& with(record_kind kind, std::uint8_t fields) {
        wanted[static_cast<std::size_t>(kind)] = fields;
        return *this;
    }
};

// How many lines the fields of a record of this kind take, when that does
// not depend on the values (false for kinds with text fields, which may span
// lines).
bool fixed_field_lines(record_kind kind, std::size_t& lines);

// The kind whose name is exactly text, or false.
bool find_record_kind(std::string_view text, record_kind& kind);

std::string_view record_name(record_kind kind);

// "is_parent_of" and so on; "relation_N" for codes outside the published set.
std::string relation_name(int code);

}  // namespace mvt_trace

#endif
