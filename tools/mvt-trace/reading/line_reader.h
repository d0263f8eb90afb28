#ifndef MVT_TRACE_LINE_READER_H
#define MVT_TRACE_LINE_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mvt_trace {

// Hands out the lines of one file, without their line feeds.
//
// A plain read() into a large buffer and memchr for the line feed: traces are
// gigabytes of short lines, and iostreams or getline cost a copy and several
// virtual calls per line, which caps a reader well below disk speed. The
// buffer is refilled by moving the unread tail to its front.
//
// Memory is bounded whatever the file holds: the buffer grows for a long
// line only up to the longest line allowed plus one read's worth, and a line
// longer than that ends the reading (line_too_long()). Every line the
// library writes is short, but a name or metadata string is written as
// given, and a file that is not a trace at all may have no line feed in
// gigabytes.
class line_reader {
public:
    static constexpr std::size_t default_max_line = std::size_t{1} << 20;

    // buffer_size: the bytes one read() asks for; max_line: the longest line
    // handed out, without its line feed.
    explicit line_reader(std::size_t buffer_size = std::size_t{1} << 20, std::size_t max_line = default_max_line);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // Opens path, which must be a regular file (a FIFO or a device is
    // refused without waiting on it); false, with error() set, when it
    // cannot be opened or is something else ("a FIFO, not a trace file").
    bool open(const std::string& path);

    // The next line, valid until the following call. False at the end of the
    // file, on a read error, and at a line longer than the limit; the line
    // feed-less tail of a file is returned as a last line with
    // ended_with_line_feed() false.
    bool next(std::string_view& line);

    bool ended_with_line_feed() const { return last_had_line_feed_; }
    std::uint64_t line_number() const { return line_number_; }
    std::uint64_t bytes_consumed() const { return bytes_consumed_; }
    // The size of the file when it was opened.
    std::uint64_t file_size() const { return file_size_; }
    // Set on a read error, and on a line too long ("line longer than 1 MiB").
    const std::string& error() const { return error_; }
    // True once reading stopped at a line longer than the limit: line
    // line_number() + 1, which starts at bytes_consumed(). The file is then
    // not a trace (malformed), where another error() means it could not be
    // read.
    bool line_too_long() const { return line_too_long_; }
    // The bytes the reader holds now; never more than the read size plus the
    // longest line.
    std::size_t capacity() const { return capacity_; }

private:
    bool refill();
    void close_file();
    void stop_at_long_line();

    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t chunk_ = 0;
    std::size_t max_line_ = 0;
    std::size_t begin_ = 0;  // first unread byte
    std::size_t end_ = 0;    // one past the last byte read from the file
    int fd_ = -1;
    bool at_eof_ = false;
    bool last_had_line_feed_ = true;
    bool line_too_long_ = false;
    std::uint64_t line_number_ = 0;
    std::uint64_t bytes_consumed_ = 0;
    std::uint64_t file_size_ = 0;
    std::string error_;
};

}  // namespace mvt_trace

#endif
