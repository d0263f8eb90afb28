#ifndef MVT_TRACE_TRACE_DIRECTORY_H
#define MVT_TRACE_TRACE_DIRECTORY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
    // Its size when it was listed, for telling how far a reading has come.
    std::uint64_t size = 0;
};

// A directory entry passed over although its name starts like a trace
// file's: "_mvt.00", "_mvt.1~", or "_mvt.2" when that is a FIFO.
struct ignored_entry {
    std::string path;
    std::string name;
    std::string reason;  // "not a trace file name", "a FIFO, not a trace file"
    // The name is one the library writes, but the entry is no regular file:
    // the run's file of that number cannot be read.
    bool trace_name = false;
};

// The writer number of a trace file name as the library writes it: "_mvt."
// and a decimal number without leading zeros or sign, at most 2^31 - 1 (the
// library counts its writers in an int). False for any other name.
bool trace_file_index(std::string_view name, unsigned long& index);

// The trace files of a directory ("_mvt.N", in writer order), or the one file
// when path names a regular file. Entries named like trace files that are
// not (see ignored_entry) go to `ignored`, in name order. False, with error
// set, when there is no trace file, or when path is neither a directory nor
// a regular file.
bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::vector<ignored_entry>& ignored,
                      std::string& error);
bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::string& error);

// Whether the path names a directory (a run) rather than one file.
bool is_directory(const std::string& path);

// The sum of the files' sizes: the total a reading of them all progresses to.
std::uint64_t total_size(const std::vector<trace_file>& files);

}  // namespace mvt_trace

#endif
