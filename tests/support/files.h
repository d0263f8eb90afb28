#ifndef MVT_TEST_FILES_H
#define MVT_TEST_FILES_H

#include <string>
#include <vector>

namespace mvt_test {

// A fresh directory under `base`, or TMPDIR, or /tmp, removed with its
// contents when the object goes away unless MVT_KEEP_TEST_DIRS is set.
class temp_dir {
public:
    explicit temp_dir(const std::string& base = "");
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
// Lines without their line feeds; a last line without a line feed is kept.
std::vector<std::string> read_lines(const std::string& path);
// Names of the entries of a directory, sorted; empty when it cannot be read.
std::vector<std::string> list_dir(const std::string& path);
void write_file(const std::string& path, const std::string& content);

}  // namespace mvt_test

#endif
