#include "files.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mvt_test {

namespace fs = std::filesystem;

temp_dir::temp_dir(const std::string& base) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string pattern = (!base.empty() ? base : tmpdir && *tmpdir ? tmpdir : "/tmp") + std::string("/mvt_test_XXXXXX");
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    if (!std::getenv("MVT_KEEP_TEST_DIRS")) fs::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace mvt_test
