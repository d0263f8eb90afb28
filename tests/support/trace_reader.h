#ifndef MVT_TEST_TRACE_READER_H
#define MVT_TEST_TRACE_READER_H

#include <string>
#include <vector>

namespace mvt_test {

struct trace_field {
    std::string text;                // the field's text; empty for an identifier
    bool is_id = false;
    unsigned long long id[3] = {0, 0, 0};
    unsigned long long number() const { return std::stoull(text); }
};

struct trace_record {
    std::vector<trace_field> fields;  // name, timestamp, own fields
    const std::string& name() const { return fields.at(0).text; }
};

// A trace file read back strictly: any line out of place is an error.
struct trace_file {
    std::vector<std::string> header;
    std::vector<trace_record> records;  // end_of_records included
    bool closed = false;                // ends with "</trace>"
    std::string error;                  // first problem found, with its line number

    bool whole() const { return error.empty() && closed && !records.empty() &&
                                records.back().name() == "end_of_records"; }
    // Records other than end_of_records with the given name.
    std::vector<const trace_record*> named(const std::string& name) const;
};

trace_file parse_trace(const std::string& path);

// True when the record has the fields its name calls for, of the right kinds
// (identifiers where identifiers belong).
bool has_expected_layout(const trace_record& record);

// The header line that every file of this machine starts with.
std::string expected_trace_header_line();

}  // namespace mvt_test

#endif
