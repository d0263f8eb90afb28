#ifndef MVT_TRACE_CAPTURE_TRACE_DESTINATION_H
#define MVT_TRACE_CAPTURE_TRACE_DESTINATION_H

#include <string>

namespace mvt_trace {

// Makes the directory a recording goes into and sets `path` to it. A given
// directory may exist only if it is empty, so that two runs are never mixed
// in one; without one, a new directory named after the date and time
// ("mvt_20261206_120233", then "_1", "_2", ...) is made in the working
// directory. False, with `error` set, when that cannot be done.
bool prepare_trace_directory(const std::string& requested, std::string& path, std::string& error);

}  // namespace mvt_trace

#endif
