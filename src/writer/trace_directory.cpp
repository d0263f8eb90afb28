#include "writer/trace_directory.h"

#include <dirent.h>
#include <time.h>

#include <cstdio>

namespace writer {

bool directory_exists(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    closedir(dir);
    return true;
}

std::string dated_directory_name() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof name, "_mva_%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return name;
}

std::string first_free_variant(const std::string& base) {
    for (int i = 0; i < 1000; ++i) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_%03d", i);
        std::string candidate = base + suffix;
        if (!directory_exists(candidate)) return candidate;
    }
    return base;
}

}  // namespace writer
