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
    // For a result that a library writes to a file of its own opening (a
    // database): makes the temporary file, empty, and leaves the writing to
    // whoever opens temporary_path(). Standard output is refused: such a
    // result can only be a file.
    bool open_named(const std::string& path, const std::vector<std::string>& inputs, std::string& error);
    const std::string& temporary_path() const { return temporary_; }
    std::ostream& stream();
    // Flushes and moves the file into place. False, with `error` set, when
    // writing failed (a full disk, say); the target is then left untouched
    // and the temporary file is gone.
    bool commit(std::string& error);

private:
    class descriptor_buffer;

    void discard();
    // Checks the target and makes the temporary file beside it: its
    // descriptor, or -1 with `error` set. `to_stdout_instead`: the refusal
    // may suggest leaving out -o.
    int create_temporary(const std::string& path, const std::vector<std::string>& inputs, bool to_stdout_instead,
                         std::string& error);

    std::string path_;
    std::string temporary_;
    std::unique_ptr<descriptor_buffer> buffer_;
    std::unique_ptr<std::ostream> file_;
};

// Where a command writes a result that is a directory of files (an OTF2
// archive): a temporary directory beside the target, which commit() renames
// into place. A command that fails, or is stopped by SIGINT, SIGTERM or
// SIGHUP, leaves no half-written directory behind.
//
// The target must not exist, whatever it is: a directory's old files mixed
// with new ones would be neither archive. As for output_file, no place
// inside an input directory is accepted.
class output_directory {
public:
    output_directory() = default;
    ~output_directory();
    output_directory(const output_directory&) = delete;
    output_directory& operator=(const output_directory&) = delete;

    // False, with `error` set ("cannot write PATH: REASON"), when the
    // directory cannot or may not be created.
    bool open(const std::string& path, const std::vector<std::string>& inputs, std::string& error);
    const std::string& temporary_path() const { return temporary_; }
    // Moves the directory into place; false, with `error` set, when that
    // fails (the target appeared meanwhile, say), and the temporary
    // directory is then gone.
    bool commit(std::string& error);

private:
    void discard();

    std::string path_;
    std::string temporary_;
};

}  // namespace mvt_trace

#endif
