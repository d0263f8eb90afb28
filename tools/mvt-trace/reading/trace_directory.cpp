#include "reading/trace_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/regular_file.h"
#include "common/text_format.h"
#include "common/saturating.h"

namespace mvt_trace {

namespace {

constexpr std::string_view trace_prefix = "_mvt.";

std::string cannot_read(const std::string& path, int error_number) {
    return "cannot read " + path + ": " + std::strerror(error_number);
}

}  // namespace

bool trace_file_index(std::string_view name, unsigned long& index) {
    if (name.size() <= trace_prefix.size() || name.substr(0, trace_prefix.size()) != trace_prefix) return false;
    const std::string_view digits = name.substr(trace_prefix.size());
    if (digits.size() > 10 || (digits[0] == '0' && digits.size() > 1)) return false;
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 2147483647ul) return false;
    index = value;
    return true;
}

bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::vector<ignored_entry>& ignored,
                      std::string& error) {
    files.clear();
    ignored.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = cannot_read(path, errno);
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        trace_file one{path, std::string(base_name(path)), 0, 0, static_cast<std::uint64_t>(info.st_size)};
        trace_file_index(one.name, one.index);
        files.push_back(one);
        return true;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = path + " is " + file_kind(info.st_mode) + ", not a trace directory or file";
        return false;
    }
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        error = cannot_read(path, errno);
        return false;
    }
    std::string prefix = path;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    // Each entry is looked at (following symbolic links) before anything
    // opens it: a FIFO or a link to a device is named, not read.
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, trace_prefix.size(), trace_prefix) != 0) continue;
        trace_file file;
        file.name = name;
        file.path = prefix + name;
        if (!trace_file_index(name, file.index)) {
            ignored.push_back({file.path, name, "not a trace file name", false});
            continue;
        }
        struct stat entry_info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &entry_info, 0) != 0) {
            ignored.push_back({file.path, name, std::strerror(errno), true});
            continue;
        }
        if (!S_ISREG(entry_info.st_mode)) {
            ignored.push_back({file.path, name, std::string(file_kind(entry_info.st_mode)) + ", not a trace file", true});
            continue;
        }
        file.size = static_cast<std::uint64_t>(entry_info.st_size);
        files.push_back(std::move(file));
    }
    ::closedir(dir);
    // Names are canonical, so no two files share an index, and readdir's
    // order leaves no trace in the result.
    std::sort(files.begin(), files.end(), [](const trace_file& a, const trace_file& b) { return a.index < b.index; });
    std::sort(ignored.begin(), ignored.end(),
              [](const ignored_entry& a, const ignored_entry& b) { return a.name < b.name; });
    if (files.empty()) {
        const auto unreadable = std::find_if(ignored.begin(), ignored.end(), [](const ignored_entry& e) { return e.trace_name; });
        error = unreadable == ignored.end() ? path + " holds no trace files (_mvt.0, _mvt.1, ...)"
                                            : path + " holds no readable trace file: " + unreadable->name + ": " +
                                                  unreadable->reason;
        return false;
    }
    return true;
}

bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::string& error) {
    std::vector<ignored_entry> ignored;
    return list_trace_files(path, files, ignored, error);
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint64_t total_size(const std::vector<trace_file>& files) {
    std::uint64_t total = 0;
    for (const trace_file& file : files) total = saturating_add(total, file.size);
    return total;
}

}  // namespace mvt_trace
