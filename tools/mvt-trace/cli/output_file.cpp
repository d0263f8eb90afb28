#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace mvt_trace {

namespace {

std::string reason(int error_number) { return std::strerror(error_number); }

}  // namespace

output_file::~output_file() { discard(); }

bool output_file::open(const std::string& path, std::string& error) {
    if (path.empty() || path == "-") return true;
    path_ = path;
    // The temporary name is made unique with mkstemp in the target's own
    // directory, so that the final rename never crosses file systems.
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": " + reason(errno);
        return false;
    }
    ::close(fd);
    temporary_ = name.data();
    buffer_.resize(std::size_t{1} << 20);
    file_ = std::make_unique<std::ofstream>();
    file_->rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    file_->open(temporary_, std::ios::binary | std::ios::trunc);
    if (!*file_) {
        error = "cannot write " + path + ": " + reason(errno);
        discard();
        return false;
    }
    return true;
}

std::ostream& output_file::stream() { return file_ ? static_cast<std::ostream&>(*file_) : std::cout; }

bool output_file::commit(std::string& error) {
    if (!file_) {
        std::cout.flush();
        if (std::cout) return true;
        error = "cannot write to standard output: " + reason(errno);
        return false;
    }
    file_->close();
    if (file_->fail()) {
        error = "cannot write " + path_ + ": " + reason(errno != 0 ? errno : EIO);
        discard();
        return false;
    }
    // mkstemp made the file private to its owner; give it the permissions
    // a file created the ordinary way would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temporary_.c_str(), 0666 & ~mask);
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + reason(errno);
        discard();
        return false;
    }
    temporary_.clear();
    file_.reset();
    return true;
}

void output_file::discard() {
    file_.reset();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace mvt_trace
