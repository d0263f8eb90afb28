#ifndef MVT_TRACE_RECORD_PARSER_H
#define MVT_TRACE_RECORD_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reading/trace_record.h"

namespace mvt_trace {

// Checks the lines of one trace file in order and assembles its records.
// Every line of every record is checked, whatever the reader wants of it:
// a command that reads part of a trace fails on a malformed file exactly as
// check does. It stops at the first line that does not fit; everything it
// accepted up to then is exactly what a whole file would have held.
class record_parser {
public:
    enum class outcome { more, record_done, failed };

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
    outcome fail(std::string what, std::string_view line);
    field_kind current_kind() const;

    state state_ = state::xml_declaration;
    bool failed_ = false;
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
