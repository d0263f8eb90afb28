#ifndef MVT_TRACE_CLI_OUTPUT_FILE_H
#define MVT_TRACE_CLI_OUTPUT_FILE_H

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace mvt_trace {

// Where a command writes its result: standard output, or a file that only
// appears under its name once the command has succeeded. The text goes to a
// temporary file beside the target, which commit() renames into place; a
// command that fails, or is stopped by SIGINT, SIGTERM or SIGHUP, leaves no
// half-written file, and an existing file of that name stays as it was.
//
// The target is a new name or a regular file (whose name the result then
// takes over; a symbolic link there is replaced, not followed). A device, a
// FIFO or a directory is refused: renaming over /dev/null would replace the
// device for everyone. So is any place inside an input directory, at any
// depth, and an input file itself: a result must never take the place of
// the trace it was made from.
class output_file {
public:
    output_file();
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    // An empty path or "-" means standard output. `inputs` are the
    // directories and files the command reads. False, with `error` set
    // ("cannot write PATH: REASON"), when the file cannot or may not be
    // created.
    bool open(const std::string& path, const std::vector<std::string>& inputs, std::string& error);
    std::ostream& stream();
    // Flushes and moves the file into place. False, with `error` set, when
    // writing failed (a full disk, say); the target is then left untouched
    // and the temporary file is gone.
    bool commit(std::string& error);

private:
    class descriptor_buffer;

    void discard();

    std::string path_;
    std::string temporary_;
    std::unique_ptr<descriptor_buffer> buffer_;
    std::unique_ptr<std::ostream> file_;
};

}  // namespace mvt_trace

#endif
