#include "capture/library_location.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace mvt_trace {

namespace {

// Where the library and the helper lie relative to this program's
// directory, in the build tree and after installation (the build fills
// both in).
const std::vector<const char*> library_places = {MVT_TRACE_LIBRARY_IN_BUILD_TREE, MVT_TRACE_LIBRARY_WHEN_INSTALLED};
const std::vector<const char*> helper_places = {MVT_TRACE_HELPER_IN_BUILD_TREE, MVT_TRACE_HELPER_WHEN_INSTALLED};

std::string program_directory() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return "";
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    return path.substr(0, path.find_last_of('/'));
}

bool absolute_existing(const std::string& candidate, std::string& path) {
    char* resolved = ::realpath(candidate.c_str(), nullptr);
    if (resolved == nullptr) return false;
    path = resolved;
    ::free(resolved);
    return true;
}

// The first of `places` (relative to this program's directory) that exists;
// else the list of what was tried.
bool beside_this_program(const std::vector<const char*>& places, std::string& path, std::string& tried) {
    const std::string directory = program_directory();
    for (const char* relative : places) {
        const std::string candidate = directory + "/" + relative;
        if (absolute_existing(candidate, path)) return true;
        tried += (tried.empty() ? "" : ", ") + candidate;
    }
    return false;
}

}  // namespace

bool locate_library(const std::string& requested, std::string& path, std::string& error) {
    if (!requested.empty()) {
        if (absolute_existing(requested, path)) return true;
        error = "cannot use library " + requested + ": " + std::strerror(errno);
        return false;
    }
    std::string tried;
    if (beside_this_program(library_places, path, tried)) return true;
    error = "cannot find libmvt_xml.so (looked at " + tried + "); name it with --library PATH";
    return false;
}

bool locate_helper(std::string& path, std::string& error) {
    std::string tried;
    if (beside_this_program(helper_places, path, tried)) return true;
    error = "cannot find libmvt_record_helper.so (looked at " + tried + "); it is built and installed with mvt-trace";
    return false;
}

}  // namespace mvt_trace
