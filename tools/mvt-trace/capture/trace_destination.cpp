#include "capture/trace_destination.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace mvt_trace {

namespace {

std::string reason() { return std::strerror(errno); }

// Whether the directory `path` holds nothing; false, with errno set, when
// it cannot be read.
bool empty_directory(const std::string& path, bool& empty) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return false;
    empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return true;
}

// mkdir -p: the parents that are missing, then the directory itself.
bool make_directories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::string dated_name() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "mvt_%Y%m%d_%H%M%S", &local);
    return name;
}

}  // namespace

bool prepare_trace_directory(const std::string& requested, std::string& path, std::string& error) {
    if (requested.empty()) {
        // mkdir fails on a name that exists, so two recordings started in
        // the same second still get a directory each.
        const std::string base = dated_name();
        for (int attempt = 0; attempt < 1000; ++attempt) {
            path = attempt == 0 ? base : base + "_" + std::to_string(attempt);
            if (::mkdir(path.c_str(), 0777) == 0) return true;
            if (errno != EEXIST) break;
        }
        error = "cannot create a trace directory " + path + ": " + reason();
        return false;
    }
    path = requested;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            error = path + " exists and is not a directory";
            return false;
        }
        bool empty = false;
        if (!empty_directory(path, empty)) {
            error = "cannot read " + path + ": " + reason();
            return false;
        }
        if (!empty) {
            error = path + " is not empty: a trace needs a directory of its own (remove it or name another)";
            return false;
        }
        return true;
    }
    if (!make_directories(path)) {
        error = "cannot create " + path + ": " + reason();
        return false;
    }
    return true;
}

}  // namespace mvt_trace
