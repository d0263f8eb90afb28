#ifndef MVT_TRACE_TRACE_DIRECTORY_H
#define MVT_TRACE_TRACE_DIRECTORY_H

#include <cstddef>
#include <string>
#include <vector>

namespace mvt_trace {

// One trace file of a run; index is the writer number from its name.
struct trace_file {
    std::string path;
    std::string name;  // "_mvt.3"
    unsigned long index = 0;
    // Which of the directories given on the command line holds the file:
    // one directory is one traced process, whose threads and names are its
    // own.
    std::size_t process = 0;
};

// The trace files of a directory ("_mvt.N", in writer order), or the one file
// when path names a file. False, with error set, when there is none.
bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::string& error);

// Whether the path names a directory (a run) rather than one file.
bool is_directory(const std::string& path);

// The files of several directories, one process each, in the order given;
// file.process numbers the directories from 0.
bool list_run(const std::vector<std::string>& paths, std::vector<trace_file>& files, std::string& error);

}  // namespace mvt_trace

#endif
