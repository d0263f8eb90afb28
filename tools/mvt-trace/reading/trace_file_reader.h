#ifndef MVT_TRACE_TRACE_FILE_READER_H
#define MVT_TRACE_TRACE_FILE_READER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "reading/line_reader.h"
#include "reading/record_parser.h"

namespace mvt_trace {

enum class file_status {
    whole,       // ends with end_of_records and "</trace>"
    truncated,   // everything present is right, but the end is missing
    malformed,   // a line that the format does not allow
    unreadable,  // could not be opened or read
};

const char* status_name(file_status status);

struct file_report;
// "PATH:LINE: malformed: expected ..., found ...": what went wrong with a
// file that is not whole.
std::string problem_line(const file_report& report);

// How reading one file went; line is where the problem is (0 when whole).
struct file_report {
    std::string path;
    file_status status = file_status::whole;
    std::uint64_t line = 0;
    std::string message;
    std::uint64_t whole_records = 0;
    std::uint64_t bytes = 0;
    // The header's hardware_concurrency; files of one run agree on it.
    std::uint64_t hardware_concurrency = 0;
    bool header_read = false;
};

// Streams the records of one trace file, stopping at its first problem.
class trace_file_reader {
public:
    // buffer_size: the line reader's buffer; smaller when many files are
    // read side by side.
    explicit trace_file_reader(const std::string& path, std::size_t buffer_size = std::size_t{1} << 20);

    // The next whole record, valid until the following call; false once the
    // file is done, whether whole or not (see report()).
    bool next(const trace_record*& record);

    const file_report& report() const { return report_; }

private:
    void finish_at_end();

    line_reader lines_;
    record_parser parser_;
    file_report report_;
    bool done_ = false;
};

}  // namespace mvt_trace

#endif
