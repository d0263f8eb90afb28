#ifndef MVT_TRACE_RECORD_PARSER_H
#define MVT_TRACE_RECORD_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reading/trace_record.h"

namespace mvt_trace {

// Checks the lines of one trace file in order and assembles its records.
// It stops at the first line that does not fit; everything it accepted up to
// then is exactly what a whole file would have held.
class record_parser {
public:
    enum class outcome { more, record_done, failed };

    record_parser() { read_fields_of(every_record_kind); }

    // Records of kinds outside `kinds` come without their fields (see
    // trace_record::fields_read), unless a text field makes their length
    // depend on the values. Their field lines are counted, not checked: for
    // a read of a file that an earlier read found sound, which only wants
    // some kinds.
    void read_fields_of(record_kind_set kinds) { select_fields(field_selection::of_kinds(kinds)); }
    // Reads only the chosen fields of each kind: the lines of the others are
    // counted, not checked, and the record keeps in them whatever it held.
    // A kind with a text field is read whole.
    void select_fields(const field_selection& selection);

    // How many field lines of a record without its fields are still to
    // come; a reader may pass over them and report them with skipped().
    std::size_t lines_to_skip() const { return state_ == state::skipped_fields ? lines_to_skip_ : 0; }
    void skipped(std::size_t lines);

    // Feeds the next line (without its line feed).
    outcome feed(std::string_view line, std::uint64_t line_number);

    // Only meaningful after record_done; valid until the next feed.
    const trace_record& record() const { return record_; }

    // True once "</trace>" has been accepted.
    bool finished() const { return state_ == state::finished; }
    bool failed() const { return failed_; }
    // What the parser was waiting for, for messages about a file cut short.
    std::string expectation() const;
    // Set when feed returned failed: "expected ..., found ...".
    const std::string& problem() const { return problem_; }

    std::uint64_t whole_records() const { return whole_records_; }
    std::uint64_t hardware_concurrency() const { return hardware_concurrency_; }
    bool header_read() const { return state_ > state::trace_open; }

private:
    enum class state {
        xml_declaration,
        trace_open,
        record_open,
        record_name,
        timestamp,
        field,
        id_word,
        id_close,
        text_continued,
        skipped_fields,
        record_close,
        trace_close,
        finished,
    };

    outcome accept_record_open(std::string_view line);
    outcome accept_name(std::string_view line);
    outcome accept_field(std::string_view line);
    outcome accept_id_word(std::string_view line);
    outcome accept_text(std::string_view line);
    outcome accept_text_continued(std::string_view line);
    outcome accept_record_close(std::string_view line);
    outcome accept_number(std::string_view line, field_kind kind, std::uint64_t& out);
    outcome next_field();
    outcome after_skipped_fields();
    outcome after_timestamp();
    outcome fail(std::string what, std::string_view line);
    field_kind current_kind() const;

    state state_ = state::xml_declaration;
    bool failed_ = false;
    std::array<std::uint8_t, record_kind_count> fields_wanted_;
    std::size_t lines_to_skip_ = 0;
    std::size_t field_index_ = 0;
    int id_word_ = 0;
    trace_record record_;
    // Text fields are copied: a record spans many lines and the reader's
    // buffer may move under earlier ones. The offsets become views when the
    // record closes.
    std::string text_storage_;
    std::size_t text_begin_[max_fields] = {};
    std::size_t text_size_[max_fields] = {};
    std::uint64_t whole_records_ = 0;
    std::uint64_t hardware_concurrency_ = 0;
    std::string problem_;
};

}  // namespace mvt_trace

#endif
