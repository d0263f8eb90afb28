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

namespace {

// The line feeds in eight bytes, as the high bit of each byte that is one:
// exact, with no carry from one byte into the next.
inline std::uint64_t line_feeds_in(const char* bytes) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    const std::uint64_t x = word ^ 0x0A0A0A0A0A0A0A0Aull;  // zero where a line feed was
    return ~(((x & low7) + low7) | x | low7);
}

// How many of the eight high bits are set, without a popcount instruction.
inline std::size_t count_of(std::uint64_t feeds) {
    return static_cast<std::size_t>(((feeds >> 7) * 0x0101010101010101ull) >> 56);
}

}  // namespace

// Counts line feeds eight bytes at a time: passing over the fields of a
// record costs a few instructions per eight bytes rather than a call per
// line.
std::size_t line_reader::skip(std::size_t n) {
    std::size_t skipped = 0;
    std::size_t at = begin_;  // everything before `at` is passed over or scanned
    while (skipped < n) {
        const char* base = buffer_.get();
        std::size_t last_feed_end = begin_;  // just after the last line feed passed
        while (skipped < n && at + 8 <= end_) {
            std::uint64_t feeds = line_feeds_in(base + at);
            const std::size_t count = count_of(feeds);
            if (skipped + count < n) {
                skipped += count;
                if (feeds != 0) last_feed_end = at + static_cast<std::size_t>(63 - __builtin_clzll(feeds)) / 8 + 1;
                at += 8;
                continue;
            }
            for (std::size_t k = n - skipped; k > 1; --k) feeds &= feeds - 1;
            last_feed_end = at + static_cast<std::size_t>(__builtin_ctzll(feeds)) / 8 + 1;
            at = last_feed_end;
            skipped = n;
        }
        for (; skipped < n && at < end_; ++at) {
            if (base[at] != '\n') continue;
            ++skipped;
            last_feed_end = at + 1;
        }
        bytes_consumed_ += last_feed_end - begin_;
        begin_ = last_feed_end;
        if (skipped == n) break;
        // A line runs past the buffer: keep its start and read more.
        const std::size_t scanned = at - begin_;
        if (scanned > max_line_) {
            stop_at_long_line();
            break;
        }
        if (!refill()) break;
        at = begin_ + scanned;
    }
    line_number_ += skipped;
    if (skipped > 0) last_had_line_feed_ = true;
    return skipped;
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
