#ifndef MVT_TRACE_REGULAR_FILE_H
#define MVT_TRACE_REGULAR_FILE_H

#include <sys/stat.h>

#include <sstream>
#include <string>

namespace mvt_trace {

// What a file is, for messages: "a FIFO", "a character device", "a directory".
const char* file_kind(mode_t mode);

// Opens `path` for reading when it is a regular file, following symbolic
// links. Anything else is refused before it can do harm: a FIFO would block
// the open until some writer came, and a device such as /dev/zero never
// ends. The file is looked at before it is opened, so that opening a device
// has no effect, and again through the descriptor, so that a file swapped in
// between is caught; the open itself never waits. The descriptor, or -1 with
// `reason` set to the system's reason or to "a FIFO, not WHAT". `info` gets
// the file's status when given.
int open_regular_file(const std::string& path, const char* what, std::string& reason, struct stat* info = nullptr);

// The whole of a small regular file (a module map, a process's facts, a
// record file), opened as above: false, with `reason` set, when it cannot be
// read or holds more than `limit` bytes, which no such file written by
// record does.
bool read_small_file(const std::string& path, const char* what, std::size_t limit, std::string& text,
                     std::string& reason);

// A small file of record's own whose first line names its format and
// version (`header`, "mvt-modules 1"): read as above into `lines`, which is
// left past that line. False, with `error` a whole message naming `path`,
// when it cannot be read, is empty or starts otherwise.
bool read_format_file(const std::string& path, const char* what, std::size_t limit, const std::string& header,
                      std::istringstream& lines, std::string& error);

}  // namespace mvt_trace

#endif
