#ifndef MVT_TRACE_LINE_READER_H
#define MVT_TRACE_LINE_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mvt_trace {

// Hands out the lines of one file, without their line feeds.
//
// A plain read() into a large buffer and memchr for the line feed: traces are
// gigabytes of short lines, and iostreams or getline cost a copy and several
// virtual calls per line, which caps a reader well below disk speed. The
// buffer is refilled by moving the unread tail to its front, so memory stays
// at the buffer size unless a single line is longer than it.
class line_reader {
public:
    explicit line_reader(std::size_t buffer_size = std::size_t{1} << 20);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // Opens path; false (with error() set) when it cannot be opened.
    bool open(const std::string& path);

    // The next line, valid until the following call. False at the end of the
    // file or on a read error; the line feed-less tail of a file is returned
    // as a last line with ended_with_line_feed() false.
    bool next(std::string_view& line);

    // Passes over up to n whole lines without handing them out; the number
    // passed. Stops early at the end of the file, before a last line that
    // has no line feed (next() hands that one out).
    std::size_t skip(std::size_t n);

    bool ended_with_line_feed() const { return last_had_line_feed_; }
    std::uint64_t line_number() const { return line_number_; }
    std::uint64_t bytes_consumed() const { return bytes_consumed_; }
    const std::string& error() const { return error_; }

private:
    bool refill();
    void close_file();

    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // first unread byte
    std::size_t end_ = 0;    // one past the last byte read from the file
    int fd_ = -1;
    bool at_eof_ = false;
    bool last_had_line_feed_ = true;
    std::uint64_t line_number_ = 0;
    std::uint64_t bytes_consumed_ = 0;
    std::string error_;
};

}  // namespace mvt_trace

#endif
