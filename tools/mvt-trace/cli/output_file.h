#ifndef MVT_TRACE_CLI_OUTPUT_FILE_H
#define MVT_TRACE_CLI_OUTPUT_FILE_H

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace mvt_trace {

// Where a command writes its result: standard output, or a file that only
// appears under its name once the command has succeeded. The text goes to a
// temporary file beside the target, which commit() renames into place; a
// command that fails leaves no half-written file, and an existing file of
// that name stays as it was.
class output_file {
public:
    output_file() = default;
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    // An empty path or "-" means standard output. False, with `error` set
    // ("cannot write PATH: REASON"), when the file cannot be created.
    bool open(const std::string& path, std::string& error);
    std::ostream& stream();
    // Flushes and moves the file into place. False, with `error` set, when
    // writing failed (a full disk, say); the target is then left untouched.
    bool commit(std::string& error);

private:
    void discard();

    std::string path_;
    std::string temporary_;
    std::unique_ptr<std::ofstream> file_;
    std::vector<char> buffer_;
};

}  // namespace mvt_trace

#endif
