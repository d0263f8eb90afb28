#ifndef MVT_TEST_TRACE_READER_H
#define MVT_TEST_TRACE_READER_H

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"

namespace mvt_test {

struct trace_field {
    std::string text;  // the field's text; empty for an identifier
    bool is_id = false;
    unsigned long long id[3] = {0, 0, 0};
};

struct trace_record {
    std::vector<trace_field> fields;  // name, timestamp, own fields
    const std::string& name() const { return fields.at(0).text; }
};

// A trace file read back strictly: any line out of place is an error.
struct trace_file {
    std::vector<trace_record> records;  // end_of_records included
    bool closed = false;                // ends with "</trace>"
    std::string error;                  // first problem found, with its line number

    bool whole() const {
        return error.empty() && closed && !records.empty() && records.back().name() == "end_of_records";
    }
};

trace_file parse_trace(const std::string& path);

// The header line that every file of this machine starts with.
std::string expected_trace_header_line();

using lines = std::vector<std::string>;

std::string id_text(unsigned long long a, unsigned long long b = 0, unsigned long long c = 0);

// The files _mvt.0, _mvt.1, ... of a directory, each of which must be whole,
// as one line per record, so that tests compare records whole: the name, then
// the fields after the timestamp, identifiers as {a,b,c} and the address of a
// domain or string handle created in the trace as @name. end_of_records is
// left out. Every name must have one address per kind, and no address two names.
std::vector<lines> read_rendered(const std::string& dir);

// A child process run with MVA_DIR naming a fresh directory (its working
// directory unless `options` names one), which must exit with status 0, and
// its trace files as read_rendered() shows them.
struct traced_run {
    explicit traced_run(const std::vector<std::string>& argv, child_options options = {});
    lines file(size_t k) const { return k < files.size() ? files[k] : lines{}; }

    temp_dir dir;
    child_result child;
    std::vector<lines> files;
};

}  // namespace mvt_test

#endif
