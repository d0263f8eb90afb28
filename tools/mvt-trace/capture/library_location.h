#ifndef MVT_TRACE_CAPTURE_LIBRARY_LOCATION_H
#define MVT_TRACE_CAPTURE_LIBRARY_LOCATION_H

#include <string>

namespace mvt_trace {

// The absolute path of libmvt_xml.so for a program to load: `requested`
// when given, else the library beside this mvt-trace, where the build tree
// or an installation puts it. False, with `error` set, when there is none.
bool locate_library(const std::string& requested, std::string& path, std::string& error);

// The absolute path of record's preload helper, found the same way.
bool locate_helper(std::string& path, std::string& error);

}  // namespace mvt_trace

#endif
