#include "reading/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/regular_file.h"

namespace mvt_trace {

namespace {

constexpr std::size_t smallest_read = 64;

// "1 MiB", "4 KiB", "300 bytes".
std::string size_text(std::size_t bytes) {
    if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

line_reader::line_reader(std::size_t buffer_size, std::size_t max_line)
    : buffer_(new char[buffer_size < smallest_read ? smallest_read : buffer_size]),
      capacity_(buffer_size < smallest_read ? smallest_read : buffer_size),
      chunk_(capacity_),
      max_line_(max_line) {}

line_reader::~line_reader() { close_file(); }

void line_reader::close_file() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool line_reader::open(const std::string& path) {
    close_file();
    begin_ = end_ = 0;
    at_eof_ = false;
    last_had_line_feed_ = true;
    line_too_long_ = false;
    line_number_ = 0;
    bytes_consumed_ = 0;
    file_size_ = 0;
    error_.clear();
    struct stat info {};
    fd_ = open_regular_file(path, "a trace file", error_, &info);
    if (fd_ < 0) return false;
    file_size_ = static_cast<std::uint64_t>(info.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
}

void line_reader::stop_at_long_line() {
    line_too_long_ = true;
    error_ = "line longer than " + size_text(max_line_);
    at_eof_ = true;
    begin_ = end_ = 0;
    close_file();
}

// Moves the unread tail to the front and reads more, growing the buffer up
// to the longest line plus one read. False when nothing more could be read.
bool line_reader::refill() {
    if (at_eof_ || fd_ < 0) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // A tail that leaves less than half a read's room is the start of a long
    // line; short lines never make the buffer grow.
    const std::size_t most = max_line_ + chunk_;
    if (capacity_ - end_ < chunk_ / 2 && capacity_ < most) {
        const std::size_t grown = capacity_ > most / 2 ? most : capacity_ * 2;
        std::unique_ptr<char[]> larger(new char[grown]);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ = grown;
    }
    for (;;) {
        ssize_t got = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
        if (got > 0) {
            end_ += static_cast<std::size_t>(got);
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error_ = std::strerror(errno);
        at_eof_ = true;
        return false;
    }
}

bool line_reader::next(std::string_view& line) {
    std::size_t scanned = begin_;
    for (;;) {
        const char* base = buffer_.get();
        const void* feed = std::memchr(base + scanned, '\n', end_ - scanned);
        if (feed != nullptr) {
            std::size_t at = static_cast<std::size_t>(static_cast<const char*>(feed) - base);
            if (at - begin_ > max_line_) {
                stop_at_long_line();
                return false;
            }
            line = std::string_view(base + begin_, at - begin_);
            bytes_consumed_ += at + 1 - begin_;
            begin_ = at + 1;
            ++line_number_;
            last_had_line_feed_ = true;
            return true;
        }
        const std::size_t unread = end_ - begin_;
        if (unread > max_line_) {
            stop_at_long_line();
            return false;
        }
        if (!refill()) break;
        scanned = begin_ + unread;
    }
    if (begin_ == end_) return false;
    line = std::string_view(buffer_.get() + begin_, end_ - begin_);
    bytes_consumed_ += end_ - begin_;
    begin_ = end_;
    ++line_number_;
    last_had_line_feed_ = false;
    return true;
}

}  // namespace mvt_trace
