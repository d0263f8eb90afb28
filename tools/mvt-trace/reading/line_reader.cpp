#include "reading/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mvt_trace {

line_reader::line_reader(std::size_t buffer_size) : buffer_(buffer_size < 64 ? 64 : buffer_size) {}

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
    line_number_ = 0;
    bytes_consumed_ = 0;
    error_.clear();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
}

// Moves the unread tail to the front (growing the buffer when a single line
// fills it) and reads more; false when nothing more could be read.
bool line_reader::refill() {
    if (at_eof_ || fd_ < 0) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
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
        const char* base = buffer_.data();
        const void* feed = std::memchr(base + scanned, '\n', end_ - scanned);
        if (feed != nullptr) {
            std::size_t at = static_cast<std::size_t>(static_cast<const char*>(feed) - base);
            line = std::string_view(base + begin_, at - begin_);
            bytes_consumed_ += at + 1 - begin_;
            begin_ = at + 1;
            ++line_number_;
            last_had_line_feed_ = true;
            return true;
        }
        std::size_t unread = end_ - begin_;
        if (!refill()) break;
        scanned = begin_ + unread;
    }
    if (begin_ == end_) return false;
    line = std::string_view(buffer_.data() + begin_, end_ - begin_);
    bytes_consumed_ += end_ - begin_;
    begin_ = end_;
    ++line_number_;
    last_had_line_feed_ = false;
    return true;
}

}  // namespace mvt_trace
