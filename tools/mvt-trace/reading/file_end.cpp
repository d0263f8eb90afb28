#include "reading/file_end.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace mvt_trace {

namespace {

constexpr std::string_view record_start = "<field>end_of_records</field>\n<field>";
constexpr std::string_view file_end = "</field>\n</record>\n</trace>\n";

bool read_tail(const std::string& path, std::string& tail) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok) {
        const off_t size = info.st_size;
        const off_t length = size < 128 ? size : 128;
        tail.resize(static_cast<std::size_t>(length));
        ok = ::pread(fd, tail.data(), tail.size(), size - length) == static_cast<ssize_t>(length);
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool end_of_records_timestamp(const std::string& path, std::uint64_t& timestamp) {
    std::string tail;
    if (!read_tail(path, tail)) return false;
    const std::string_view text(tail);
    if (text.size() < file_end.size() || text.substr(text.size() - file_end.size()) != file_end) return false;
    const std::size_t start = text.rfind(record_start);
    if (start == std::string_view::npos) return false;
    const std::string_view digits =
        text.substr(start + record_start.size(), text.size() - file_end.size() - start - record_start.size());
    if (digits.empty() || digits.size() > 19) return false;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    timestamp = value;
    return true;
}

}  // namespace mvt_trace
