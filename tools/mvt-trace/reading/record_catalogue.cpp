#include "reading/record_catalogue.h"

namespace mvt_trace {

namespace {

constexpr field_kind kind_of(field_code code) {
    switch (code) {
        case field_code::identifier: return field_kind::identifier;
        case field_code::unsigned_64: return field_kind::unsigned_64;
        case field_code::small_int: return field_kind::small_int;
        case field_code::text: return field_kind::narrow_text;
        case field_code::wide_text: return field_kind::wide_text;
        case field_code::none: break;
    }
    return field_kind::unsigned_64;
}

constexpr record_layout layout_from(const catalogue_row& row, bool carries_value) {
    record_layout layout{};
    layout.name = row.name;
    for (field_code code : row.codes) {
        if (code == field_code::none) break;
        layout.fields[layout.field_count++] = kind_of(code);
    }
    if (carries_value) layout.fields[layout.field_count++] = field_kind::value_bytes;
    return layout;
}

template <std::size_t... I>
constexpr std::array<record_layout, record_kind_count> layouts_from(std::index_sequence<I...>) {
    return {layout_from(catalogue[I], static_cast<record_kind>(I) == record_kind::metadata)...};
}

constexpr std::array<record_layout, record_kind_count> layouts =
    layouts_from(std::make_index_sequence<record_kind_count>{});

static_assert(layouts[static_cast<std::size_t>(record_kind::metadata)].field_count == max_fields,
              "metadata's value is its sixth field");

}  // namespace

const record_layout& layout_of(record_kind kind) { return layouts[static_cast<std::size_t>(kind)]; }

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
