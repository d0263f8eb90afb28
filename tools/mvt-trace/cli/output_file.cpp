#include "cli/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <vector>

#include "common/regular_file.h"

namespace mvt_trace {

namespace {

std::string reason(int error_number) { return std::strerror(error_number); }

// The one temporary file or directory of the process, for the signal
// handler to remove; null when there is none.
std::atomic<char*> pending_temporary{nullptr};
std::atomic<bool> pending_is_directory{false};

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes `name` under the directory `parent`, and all it holds, with only
// the calls a signal handler may make: no allocation, no stdio. Deep enough
// for any archive this program writes; symbolic links are removed, never
// followed.
void remove_tree_at(int parent, const char* name, int depth) {
    if (::unlinkat(parent, name, 0) == 0 || errno != EISDIR) return;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && depth < 16) {
        // Entries removed while a listing is read may hide others on some
        // file systems: the listing is read again until it holds nothing to
        // remove.
        for (int pass = 0; pass < 1000; ++pass) {
            bool removed = false;
            ::lseek(fd, 0, SEEK_SET);
            alignas(struct dirent64) char buffer[4096];
            ssize_t got = 0;
            while ((got = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
                for (ssize_t at = 0; at < got;) {
                    const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
                    at += entry->d_reclen;
                    const char* n = entry->d_name;
                    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
                    remove_tree_at(fd, n, depth + 1);
                    removed = true;
                }
            }
            if (!removed) break;
        }
    }
    if (fd >= 0) ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void remove_temporary_and_die(int signal_number) {
    if (char* path = pending_temporary.exchange(nullptr)) {
        if (pending_is_directory.load())
            remove_tree_at(AT_FDCWD, path, 0);
        else
            ::unlink(path);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// The handlers are set only where the process left the default in place: a
// signal the shell told it to ignore stays ignored.
void watch_signals(const std::string& temporary, bool directory = false) {
    char* copy = ::strdup(temporary.c_str());
    std::free(pending_temporary.exchange(nullptr));
    pending_is_directory.store(directory);
    pending_temporary.store(copy);
    for (int signal_number : cleanup_signals) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(signal_number, remove_temporary_and_die);
    }
    // Past a file size limit, write() fails with EFBIG instead of the
    // process being killed, and the result is refused cleanly.
    std::signal(SIGXFSZ, SIG_IGN);
}

void unwatch_signals() { std::free(pending_temporary.exchange(nullptr)); }

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The input directory that holds `directory` (itself or an ancestor), or
// null. Walks up through ".." by descriptor, so that no path grows and
// symbolic links on the way are seen for what they lead to.
const std::string* enclosing_input(const std::string& directory, const std::vector<std::string>& input_paths,
                                   const std::vector<struct stat>& inputs) {
    int fd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int depth = 0; fd >= 0 && depth < 4096; ++depth) {
        struct stat here {};
        if (::fstat(fd, &here) != 0) break;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            if (same_file(here, inputs[i])) {
                ::close(fd);
                return &input_paths[i];
            }
        }
        const int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat above {};
        const bool at_root = up < 0 || ::fstat(up, &above) != 0 || same_file(above, here);
        ::close(fd);
        fd = up;
        if (at_root) break;
    }
    if (fd >= 0) ::close(fd);
    return nullptr;
}

// Why the result may not go to `path`, or "" when it may. `exists` and
// `target` tell what lies at `path` now.
std::string refusal(const std::string& path, const std::vector<std::string>& inputs, bool exists,
                    const struct stat& target) {
    std::vector<std::string> directory_paths;
    std::vector<struct stat> directories;
    for (const std::string& input : inputs) {
        struct stat info {};
        if (::stat(input.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            directory_paths.push_back(input);
            directories.push_back(info);
        } else if (exists && same_file(info, target)) {
            return "it is the input file " + input;
        }
    }
    if (directories.empty()) return "";
    if (const std::string* input = enclosing_input(parent_of(path), directory_paths, directories))
        return "it lies inside the input directory " + *input;
    return "";
}

// Why a result file may not go to `path`, or "" when it may.
std::string file_refusal(const std::string& path, const std::vector<std::string>& inputs, bool to_stdout_instead) {
    struct stat target {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && !S_ISREG(target.st_mode))
        return std::string(file_kind(target.st_mode)) + ", not a regular file" +
               (to_stdout_instead ? " (leave out -o to write to standard output)" : "");
    return refusal(path, inputs, exists, target);
}

// Files made with mkstemp and directories made with mkdtemp are private to
// their owner; a result gets what one created the ordinary way would have.
void give_ordinary_permissions(const std::string& path, mode_t permissions) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(path.c_str(), permissions & ~mask);
}

}  // namespace

// A stream buffer straight onto a descriptor that remembers the first write
// error: std::ofstream loses errno on the way, and keeps writing to a full
// disk. After an error everything is dropped.
class output_file::descriptor_buffer : public std::streambuf {
public:
    explicit descriptor_buffer(int fd) : fd_(fd), buffer_(std::size_t{1} << 20) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    ~descriptor_buffer() override { close(); }

    // Writes what is buffered and closes; the first error, or 0.
    int close() {
        if (fd_ < 0) return error_;
        drain();
        if (::close(fd_) != 0 && error_ == 0) error_ = errno;
        fd_ = -1;
        return error_;
    }

protected:
    int_type overflow(int_type c) override {
        if (!drain()) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain() {
        const char* at = pbase();
        const char* const end = pptr();
        while (error_ == 0 && at < end) {
            const ssize_t wrote = ::write(fd_, at, static_cast<std::size_t>(end - at));
            if (wrote > 0)
                at += wrote;
            else if (wrote == 0)
                error_ = EIO;  // no progress and no reason: do not spin
            else if (errno != EINTR)
                error_ = errno;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    int fd_;
    int error_ = 0;
    std::vector<char> buffer_;
};

output_file::output_file() = default;

output_file::~output_file() { discard(); }

bool output_file::open(const std::string& path, const std::vector<std::string>& inputs, std::string& error) {
    discard();
    if (path.empty() || path == "-") return true;
    const int fd = create_temporary(path, inputs, true, error);
    if (fd < 0) return false;
    buffer_ = std::make_unique<descriptor_buffer>(fd);
    file_ = std::make_unique<std::ostream>(buffer_.get());
    return true;
}

bool output_file::open_named(const std::string& path, const std::vector<std::string>& inputs, std::string& error) {
    discard();
    if (path.empty() || path == "-") {
        error = "cannot write to standard output: this result is a file of its own kind (give -o FILE)";
        return false;
    }
    const int fd = create_temporary(path, inputs, false, error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

int output_file::create_temporary(const std::string& path, const std::vector<std::string>& inputs,
                                  bool to_stdout_instead, std::string& error) {
    if (const std::string why = file_refusal(path, inputs, to_stdout_instead); !why.empty()) {
        error = "cannot write " + path + ": " + why;
        return -1;
    }
    path_ = path;
    // The temporary name is made unique with mkstemp in the target's own
    // directory, so that the final rename never crosses file systems.
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": " + reason(errno);
        return -1;
    }
    temporary_ = name.data();
    watch_signals(temporary_);
    return fd;
}

std::ostream& output_file::stream() { return file_ ? *file_ : std::cout; }

bool output_file::commit(std::string& error) {
    if (!file_ && temporary_.empty()) {
        std::cout.flush();
        if (std::cout) return true;
        error = "cannot write to standard output: " + reason(errno != 0 ? errno : EIO);
        return false;
    }
    if (file_) {
        file_->flush();
        if (const int failed = buffer_->close(); failed != 0 || !*file_) {
            error = "cannot write " + path_ + ": " + reason(failed != 0 ? failed : EIO);
            discard();
            return false;
        }
    }
    give_ordinary_permissions(temporary_, 0666);
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + reason(errno);
        discard();
        return false;
    }
    temporary_.clear();
    unwatch_signals();
    file_.reset();
    buffer_.reset();
    return true;
}

void output_file::discard() {
    file_.reset();
    buffer_.reset();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    unwatch_signals();
}

}  // namespace mvt_trace

namespace mvt_trace {

output_directory::~output_directory() { discard(); }

bool output_directory::open(const std::string& path, const std::vector<std::string>& inputs, std::string& error) {
    discard();
    std::string target = path;
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    if (target.empty() || target == "-") {
        error = "cannot write to standard output: this result is a directory (give -o DIR)";
        return false;
    }
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        error = "cannot write " + path + ": it exists (" + file_kind(existing.st_mode) +
                "); give a name that does not, and the archive is made there";
        return false;
    }
    if (const std::string why = refusal(target, inputs, false, existing); !why.empty()) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    std::string pattern = target + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        error = "cannot write " + path + ": " + reason(errno);
        return false;
    }
    path_ = target;
    temporary_ = name.data();
    watch_signals(temporary_, true);
    return true;
}

bool output_directory::commit(std::string& error) {
    give_ordinary_permissions(temporary_, 0777);
    // rename() would quietly replace an empty directory made there since
    // open(); only a name still free is taken.
    int moved = ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && errno == EINVAL) {
        // A file system without that flag: the gap between look and move is
        // then left open.
        struct stat existing {};
        moved = ::lstat(path_.c_str(), &existing) == 0 ? (errno = EEXIST, -1) : std::rename(temporary_.c_str(), path_.c_str());
    }
    if (moved != 0) {
        error = "cannot write " + path_ + ": " + (errno == EEXIST || errno == ENOTEMPTY ? "it exists now" : reason(errno));
        discard();
        return false;
    }
    temporary_.clear();
    unwatch_signals();
    return true;
}

void output_directory::discard() {
    if (!temporary_.empty()) remove_tree_at(AT_FDCWD, temporary_.c_str(), 0);
    temporary_.clear();
    unwatch_signals();
}

}  // namespace mvt_trace
