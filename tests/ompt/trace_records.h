#ifndef MVT_TEST_OMPT_TRACE_RECORDS_H
#define MVT_TEST_OMPT_TRACE_RECORDS_H

// Reads a trace directory back into records that tests can compare whole. A
// record is rendered as one line: its name, then its fields after the
// timestamp, identifiers as {d1,d2,d3}, and any field holding the address of a
// domain or string handle announced anywhere in the trace as @name.

#include <map>
#include <string>
#include <vector>

namespace mvt_test {

struct trace_record {
    std::string name;
    std::vector<std::string> fields;  // after the timestamp
};

struct trace_file {
    std::string error;  // empty when the file is well formed and complete
    std::vector<trace_record> records;  // without the closing end_of_records
};

struct trace {
    std::vector<trace_file> files;                  // by writer index
    std::map<std::string, std::string> names;       // address -> name
    std::string error;                              // first error of any file

    // The records of one file, rendered; a missing file gives nothing.
    std::vector<std::string> rendered(size_t file) const;
    // The rendered records of every file, file after file.
    std::vector<std::string> all_rendered() const;
};

trace_file parse_trace_file(const std::string& path);
// Reads _mvt.0, _mvt.1, ... until the first index without a file.
trace read_trace(const std::string& dir);

std::string id_text(unsigned long long d1, unsigned long long d2, unsigned long long d3 = 0);

}  // namespace mvt_test

#endif
