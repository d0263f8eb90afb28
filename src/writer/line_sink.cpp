#include "writer/line_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace writer {

namespace {

constexpr char no_open_file_warning[] = "WARNING NO OPEN FILE: ";
constexpr int max_pieces = 8;

// write(2) may be interrupted or write less than asked (a full pipe, a signal);
// the rest is written so that a line is never cut in the file.
void write_all(int fd, iovec* pieces, int count) noexcept {
    while (count > 0) {
        ssize_t written = count == 1 ? write(fd, pieces->iov_base, pieces->iov_len) : writev(fd, pieces, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // a full disk or a closed descriptor is not reported
        size_t left = static_cast<size_t>(written);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
}

// Short lines are copied together and handed over with write(2), which the
// kernel serves a little faster than writev(2); long ones go as they are.
void write_gathered(int fd, iovec* pieces, int count) noexcept {
    char line[512];
    size_t length = 0;
    for (int i = 0; i < count; ++i) {
        if (length + pieces[i].iov_len > sizeof line) return write_all(fd, pieces, count);
        std::memcpy(line + length, pieces[i].iov_base, pieces[i].iov_len);
        length += pieces[i].iov_len;
    }
    iovec whole = {line, length};
    write_all(fd, &whole, 1);
}

}  // namespace

line_sink::~line_sink() { close(); }

void line_sink::open(const std::string& path) noexcept {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

void line_sink::write_line(iovec* pieces, int count, bool first_of_call) noexcept {
    if (fd_ >= 0) {
        write_gathered(fd_, pieces, count);
        return;
    }
    iovec with_warning[max_pieces + 1];
    int n = 0;
    if (first_of_call)
        with_warning[n++] = {const_cast<char*>(no_open_file_warning), sizeof no_open_file_warning - 1};
    for (int i = 0; i < count && i < max_pieces; ++i) with_warning[n++] = pieces[i];
    write_all(STDERR_FILENO, with_warning, n);
}

void line_sink::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace writer
