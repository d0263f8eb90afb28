#include "reading/record_parser.h"

#include <algorithm>

#include "common/text_format.h"

namespace mvt_trace {

namespace {

constexpr std::string_view xml_declaration_line = "<?xml version=\"1.0\"?>";
constexpr std::string_view trace_open_prefix =
    "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"";
constexpr std::string_view trace_open_suffix = "\">";
constexpr std::string_view field_open = "<field>";
constexpr std::string_view field_close = "</field>";


// The text of a one-line field, or false when the line is not one.
bool field_text(std::string_view line, std::string_view& text) {
    if (line.size() < field_open.size() + field_close.size() || !starts_with(line, field_open) ||
        !ends_with(line, field_close))
        return false;
    text = line.substr(field_open.size(), line.size() - field_open.size() - field_close.size());
    return true;
}

// Decimal without sign or leading zeros, within 64 bits.
bool parse_unsigned(std::string_view digits, std::uint64_t& out) {
    if (digits.empty() || digits.size() > 20) return false;
    if (digits.size() > 1 && digits[0] == '0') return false;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// A line as it may be quoted in a message: short, and without control bytes.
std::string quoted(std::string_view line) {
    std::string out = "\"";
    std::size_t shown = 0;
    for (char c : line) {
        if (++shown > 60) {
            out += "...";
            break;
        }
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* describe(field_kind kind) {
    switch (kind) {
        case field_kind::identifier: return "\"<compound_field>\" opening an identifier";
        case field_kind::unsigned_64: return "an unsigned 64-bit field";
        case field_kind::small_int: return "an 8-bit field (0 to 255)";
        case field_kind::narrow_text: return "a text field";
        case field_kind::wide_text: return "a wide-text field";
        case field_kind::value_bytes: return "the metadata value field";
    }
    return "a field";
}

}  // namespace

field_kind record_parser::current_kind() const { return layout_of(record_.kind).fields[field_index_]; }

std::string record_parser::expectation() const {
    std::string where;
    if (state_ >= state::record_name && state_ <= state::record_close)
        where = std::string(" in a ") + (state_ == state::record_name
                                             ? std::string("record")
                                             : std::string(record_name(record_.kind))) +
                " record";
    switch (state_) {
        case state::xml_declaration: return "the line " + std::string(xml_declaration_line);
        case state::trace_open:
            return "the header line <trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"N\">";
        case state::record_open: return "\"<record>\" (or an end_of_records record before \"</trace>\")";
        case state::record_name: return "the record name field" + where;
        case state::timestamp: return "the timestamp field" + where;
        case state::field:
            return std::string(describe(current_kind())) + " (field " + std::to_string(field_index_ + 1) + ")" +
                   where;
        case state::id_word: return "word " + std::to_string(id_word_ + 1) + " of an identifier" + where;
        case state::id_close: return "\"</compound_field>\"" + where;
        case state::text_continued: return "the rest of a text field ending in \"</field>\"" + where;
        case state::record_close: return "\"</record>\"" + where;
        case state::trace_close: return "\"</trace>\" after end_of_records";
        case state::finished: return "nothing after \"</trace>\"";
    }
    return "";
}

record_parser::outcome record_parser::fail(std::string what, std::string_view line) {
    problem_ = "expected " + what + ", found " + quoted(line);
    failed_ = true;
    return outcome::failed;
}

record_parser::outcome record_parser::feed(std::string_view line, std::uint64_t line_number) {
    if (failed_) return outcome::failed;
    switch (state_) {
        case state::xml_declaration:
            if (line != xml_declaration_line) return fail(expectation(), line);
            state_ = state::trace_open;
            return outcome::more;
        case state::trace_open: {
            std::string_view digits;
            if (!starts_with(line, trace_open_prefix) || !ends_with(line, trace_open_suffix) ||
                line.size() < trace_open_prefix.size() + trace_open_suffix.size())
                return fail(expectation(), line);
            digits = line.substr(trace_open_prefix.size(),
                                 line.size() - trace_open_prefix.size() - trace_open_suffix.size());
            if (!parse_unsigned(digits, hardware_concurrency_))
                return fail(expectation() + " with N a decimal number", line);
            state_ = state::record_open;
            return outcome::more;
        }
        case state::record_open:
            record_.first_line = line_number;
            return accept_record_open(line);
        case state::record_name: return accept_name(line);
        case state::timestamp:
            if (accept_number(line, field_kind::unsigned_64, record_.timestamp) == outcome::failed)
                return outcome::failed;
            field_index_ = 0;
            return next_field();
        case state::field: return accept_field(line);
        case state::id_word: return accept_id_word(line);
        case state::id_close:
            if (line != "</compound_field>") return fail(expectation(), line);
            ++field_index_;
            return next_field();
        case state::text_continued: return accept_text_continued(line);
        case state::record_close: return accept_record_close(line);
        case state::trace_close:
            if (line != "</trace>") return fail(expectation(), line);
            state_ = state::finished;
            return outcome::more;
        case state::finished: return fail(expectation(), line);
    }
    return outcome::failed;
}

record_parser::outcome record_parser::accept_record_open(std::string_view line) {
    if (line != "<record>") return fail(expectation(), line);
    text_storage_.clear();
    state_ = state::record_name;
    return outcome::more;
}

record_parser::outcome record_parser::accept_name(std::string_view line) {
    std::string_view name;
    if (!field_text(line, name) || !find_record_kind(name, record_.kind))
        return fail("a record name field such as \"<field>task_begin</field>\"", line);
    state_ = state::timestamp;
    return outcome::more;
}

record_parser::outcome record_parser::accept_number(std::string_view line, field_kind kind, std::uint64_t& out) {
    std::string_view text;
    bool ok = field_text(line, text);
    if (ok && kind == field_kind::small_int) {
        ok = parse_unsigned(text, out) && out <= 255;
    } else if (ok) {
        ok = parse_unsigned(text, out);
    }
    if (!ok) {
        std::string what = state_ == state::timestamp ? std::string("the timestamp, an unsigned 64-bit field")
                                                     : expectation();
        return fail(what, line);
    }
    return outcome::more;
}

// Moves on to the record's next field, or to its closing line.
record_parser::outcome record_parser::next_field() {
    state_ = field_index_ < layout_of(record_.kind).field_count ? state::field : state::record_close;
    return outcome::more;
}

record_parser::outcome record_parser::accept_field(std::string_view line) {
    field_kind kind = current_kind();
    field_value& value = record_.fields[field_index_];
    switch (kind) {
        case field_kind::identifier:
            if (line != "<compound_field>") return fail(expectation(), line);
            id_word_ = 0;
            state_ = state::id_word;
            return outcome::more;
        case field_kind::narrow_text:
        case field_kind::wide_text: return accept_text(line);
        case field_kind::unsigned_64:
        case field_kind::small_int:
        case field_kind::value_bytes:
            if (accept_number(line, kind, value.number) == outcome::failed) return outcome::failed;
            ++field_index_;
            return next_field();
    }
    return outcome::failed;
}

record_parser::outcome record_parser::accept_id_word(std::string_view line) {
    trace_id& id = record_.fields[field_index_].id;
    std::uint64_t* word = id_word_ == 0 ? &id.d1 : id_word_ == 1 ? &id.d2 : &id.d3;
    if (accept_number(line, field_kind::unsigned_64, *word) == outcome::failed) return outcome::failed;
    if (++id_word_ == 3) state_ = state::id_close;
    return outcome::more;
}

// A text is written unchanged, so a line feed inside it splits the field:
// the first line opens with "<field>" and the field ends on the first later
// line that ends with "</field>".
record_parser::outcome record_parser::accept_text(std::string_view line) {
    if (!starts_with(line, field_open)) return fail(expectation(), line);
    text_begin_[field_index_] = text_storage_.size();
    std::string_view rest = line.substr(field_open.size());
    if (ends_with(rest, field_close)) {
        text_storage_.append(rest.data(), rest.size() - field_close.size());
        text_size_[field_index_] = text_storage_.size() - text_begin_[field_index_];
        ++field_index_;
        return next_field();
    }
    text_storage_.append(rest.data(), rest.size());
    state_ = state::text_continued;
    return outcome::more;
}

record_parser::outcome record_parser::accept_text_continued(std::string_view line) {
    text_storage_ += '\n';
    if (!ends_with(line, field_close)) {
        text_storage_.append(line.data(), line.size());
        return outcome::more;
    }
    text_storage_.append(line.data(), line.size() - field_close.size());
    text_size_[field_index_] = text_storage_.size() - text_begin_[field_index_];
    ++field_index_;
    return next_field();
}

record_parser::outcome record_parser::accept_record_close(std::string_view line) {
    if (line != "</record>") return fail(expectation(), line);
    const record_layout& layout = layout_of(record_.kind);
    for (std::size_t i = 0; i < layout.field_count; ++i) {
        if (layout.fields[i] == field_kind::narrow_text || layout.fields[i] == field_kind::wide_text)
            record_.fields[i].text = std::string_view(text_storage_).substr(text_begin_[i], text_size_[i]);
    }
    ++whole_records_;
    state_ = record_.kind == record_kind::end_of_records ? state::trace_close : state::record_open;
    return outcome::record_done;
}

}  // namespace mvt_trace
