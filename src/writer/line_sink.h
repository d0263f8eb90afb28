#ifndef MVT_WRITER_LINE_SINK_H
#define MVT_WRITER_LINE_SINK_H

#include <sys/uio.h>

#include <string>

namespace writer {

// The destination of a trace file's lines: a raw file descriptor, so that
// every line reaches the operating system with exactly one write and no
// user-space buffer can hold it back. When the file could not be opened the
// lines go to the standard error stream behind a warning.
class line_sink {
public:
    line_sink() = default;
    ~line_sink();
    line_sink(const line_sink&) = delete;
    line_sink& operator=(const line_sink&) = delete;

    // Opens `path` for writing, truncating it. Never retried after a failure.
    void open(const std::string& path) noexcept;
    bool is_open() const noexcept { return fd_ >= 0; }

    // Writes the pieces of one line (or, for the first line of a call whose
    // file is not open, the warning prefix and that line) with one system call.
    void write_line(iovec* pieces, int count, bool first_of_call) noexcept;

    // Closes the file without writing anything more.
    void close() noexcept;

private:
    int fd_ = -1;
};

}  // namespace writer

#endif
