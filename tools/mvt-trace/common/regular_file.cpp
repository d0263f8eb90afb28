#include "common/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mvt_trace {

const char* file_kind(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

namespace {

std::string refusal(mode_t mode, const char* what) { return std::string(file_kind(mode)) + ", not " + what; }

}  // namespace

int open_regular_file(const std::string& path, const char* what, std::string& reason, struct stat* info) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (!S_ISREG(before.st_mode)) {
        reason = refusal(before.st_mode, what);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat after {};
    const bool examined = ::fstat(fd, &after) == 0;
    if (!examined || !S_ISREG(after.st_mode)) {
        reason = examined ? refusal(after.st_mode, what) : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never wait anyway; clearing the flag keeps a
    // later reader from meeting EAGAIN should that ever change.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (info != nullptr) *info = after;
    return fd;
}

bool read_small_file(const std::string& path, const char* what, std::size_t limit, std::string& text,
                     std::string& reason) {
    struct stat info {};
    const int fd = open_regular_file(path, what, reason, &info);
    if (fd < 0) return false;
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        ::close(fd);
        reason = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    text.clear();
    char buffer[1 << 14];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        // The file may grow while it is read: the limit holds all the same.
        if (text.size() + static_cast<std::size_t>(got) > limit) {
            reason = "larger than " + std::to_string(limit) + " bytes";
            ::close(fd);
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

bool read_format_file(const std::string& path, const char* what, std::size_t limit, const std::string& header,
                      std::istringstream& lines, std::string& error) {
    std::string text, reason;
    if (!read_small_file(path, what, limit, text, reason)) {
        error = "cannot read " + path + ": " + reason;
        return false;
    }
    lines.str(std::move(text));
    std::string line;
    if (!std::getline(lines, line)) {
        error = "cannot read " + path + ": it is empty";
        return false;
    }
    if (line != header) {
        error = path + ": not " + what + " this mvt-trace knows (" + line.substr(0, 40) + ")";
        return false;
    }
    return true;
}

}  // namespace mvt_trace
