#include "reading/trace_directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mvt_trace {

namespace {

bool writer_index(const std::string& name, unsigned long& index) {
    const std::string prefix = "_mvt.";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.size() - prefix.size() > 9) return false;
    index = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        index = index * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return true;
}

std::string base_name(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::string& error) {
    files.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        trace_file one{path, base_name(path), 0};
        writer_index(one.name, one.index);
        files.push_back(one);
        return true;
    }
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string prefix = path;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    while (const dirent* entry = ::readdir(dir)) {
        trace_file file;
        file.name = entry->d_name;
        if (!writer_index(file.name, file.index)) continue;
        file.path = prefix + file.name;
        files.push_back(file);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(),
              [](const trace_file& a, const trace_file& b) { return a.index < b.index; });
    if (files.empty()) {
        error = path + " holds no trace files (_mvt.0, _mvt.1, ...)";
        return false;
    }
    return true;
}

bool list_run(const std::vector<std::string>& paths, std::vector<trace_file>& files, std::string& error) {
    files.clear();
    for (std::size_t process = 0; process < paths.size(); ++process) {
        std::vector<trace_file> one;
        if (!list_trace_files(paths[process], one, error)) return false;
        for (trace_file& file : one) {
            file.process = process;
            files.push_back(std::move(file));
        }
    }
    return true;
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace mvt_trace
