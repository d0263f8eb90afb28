#ifndef MVT_TRACE_CHECK_H
#define MVT_TRACE_CHECK_H

#include <ostream>
#include <vector>

#include "reading/trace_directory.h"
#include "reading/trace_file_reader.h"

namespace mvt_trace {

// Validates every file and writes one line per file ("path:line: problem"
// for a file that is not whole) and a total line. True when all are whole.
bool write_check(const std::vector<trace_file>& files, std::ostream& out);

// "path:line: message" for a file that is not whole.
std::string problem_line(const file_report& report);

}  // namespace mvt_trace

#endif
