#ifndef MVT_TRACE_TRACE_DIRECTORY_H
#define MVT_TRACE_TRACE_DIRECTORY_H

#include <string>
#include <vector>

namespace mvt_trace {

// One trace file of a run; index is the writer number from its name.
struct trace_file {
    std::string path;
    std::string name;  // "_mvt.3"
    unsigned long index = 0;
};

// The trace files of a directory ("_mvt.N", in writer order), or the one file
// when path names a file. False, with error set, when there is none.
bool list_trace_files(const std::string& path, std::vector<trace_file>& files, std::string& error);

}  // namespace mvt_trace

#endif
