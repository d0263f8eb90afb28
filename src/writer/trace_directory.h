#ifndef MVT_WRITER_TRACE_DIRECTORY_H
#define MVT_WRITER_TRACE_DIRECTORY_H

#include <string>

namespace writer {

// Whether `path` can be opened as a directory.
bool directory_exists(const std::string& path);

// "_mva_" and the local date and time, to the second: "_mva_20261204_013052".
std::string dated_directory_name();

// The first of `base` + "_000" to "_999" that does not exist, or `base` itself
// when all of them do.
std::string first_free_variant(const std::string& base);

}  // namespace writer

#endif
