#include "reading/record_catalogue.h"

#include <string>

namespace mvt_trace {

namespace {

using fk = field_kind;

// One row per record kind; metadata carries its value field after the count,
// which is why its layout is one field longer than its type codes.
const std::array<record_layout, record_kind_count> layouts = {{
    {"definition", 5, {fk::small_int, fk::small_int, fk::narrow_text, fk::small_int, fk::small_int}},
    {"api_version", 2, {fk::small_int, fk::narrow_text}},
    {"domain_createA", 3, {fk::unsigned_64, fk::small_int, fk::narrow_text}},
    {"domain_createW", 3, {fk::unsigned_64, fk::small_int, fk::wide_text}},
    {"id_create", 2, {fk::unsigned_64, fk::identifier}},
    {"id_destroy", 2, {fk::unsigned_64, fk::identifier}},
    {"metadata", 6,
     {fk::unsigned_64, fk::identifier, fk::unsigned_64, fk::small_int, fk::unsigned_64, fk::value_bytes}},
    {"metadata_stringA", 5,
     {fk::unsigned_64, fk::identifier, fk::unsigned_64, fk::unsigned_64, fk::narrow_text}},
    {"metadata_stringW", 5,
     {fk::unsigned_64, fk::identifier, fk::unsigned_64, fk::unsigned_64, fk::wide_text}},
    {"relation", 4, {fk::unsigned_64, fk::identifier, fk::small_int, fk::identifier}},
    {"string_handle_createA", 3, {fk::unsigned_64, fk::small_int, fk::narrow_text}},
    {"string_handle_createW", 3, {fk::unsigned_64, fk::small_int, fk::wide_text}},
    {"task_begin", 5,
     {fk::unsigned_64, fk::identifier, fk::identifier, fk::unsigned_64, fk::unsigned_64}},
    {"task_end", 1, {fk::unsigned_64}},
    {"task_group", 4, {fk::unsigned_64, fk::identifier, fk::identifier, fk::unsigned_64}},
    {"region_begin", 4, {fk::unsigned_64, fk::identifier, fk::identifier, fk::unsigned_64}},
    {"region_end", 2, {fk::unsigned_64, fk::identifier}},
    {"end_of_records", 0, {}},
}};

}  // namespace

const record_layout& layout_of(record_kind kind) { return layouts[static_cast<std::size_t>(kind)]; }

bool fixed_field_lines(record_kind kind, std::size_t& lines) {
    const record_layout& layout = layout_of(kind);
    lines = 0;
    for (std::size_t i = 0; i < layout.field_count; ++i) {
        if (layout.fields[i] == field_kind::narrow_text || layout.fields[i] == field_kind::wide_text) return false;
        lines += layout.fields[i] == field_kind::identifier ? 5 : 1;
    }
    return true;
}

field_selection field_selection::of_kinds(record_kind_set kinds) {
    field_selection selection;
    for (std::size_t k = 0; k < record_kind_count; ++k)
        if (kinds & kind_bit(static_cast<record_kind>(k))) selection.wanted[k] = 0xFF;
    return selection;
}

std::string_view record_name(record_kind kind) { return layout_of(kind).name; }

bool find_record_kind(std::string_view text, record_kind& kind) {
    // Eighteen short names: comparing lengths first rejects almost every row
    // without touching the bytes, which beats hashing on this hot path.
    for (std::size_t i = 0; i < record_kind_count; ++i) {
        if (layouts[i].name.size() == text.size() && layouts[i].name == text) {
            kind = static_cast<record_kind>(i);
            return true;
        }
    }
    return false;
}

std::string relation_name(int code) {
    static const char* const names[] = {"is_unknown",         "is_dependent_on", "is_sibling_of",
                                        "is_parent_of",       "is_continuation_of", "is_child_of",
                                        "is_continued_by",    "is_predecessor_to"};
    if (code >= 0 && code < 8) return names[code];
    return "relation_" + std::to_string(code);
}

}  // namespace mvt_trace
