#ifndef MVT_TEST_OMPT_RENDERED_TRACE_H
#define MVT_TEST_OMPT_RENDERED_TRACE_H

// A trace directory read back as one line per record, so that tests compare
// records whole: the record name, then its fields after the timestamp,
// identifiers as {a,b,c} and the address of any domain or string handle
// announced in the trace as @name. end_of_records is left out.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace mvt_test {

using lines = std::vector<std::string>;

inline std::string id_text(unsigned long long a, unsigned long long b = 0, unsigned long long c = 0) {
    return "{" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "}";
}

// The files _mvt.0, _mvt.1, ... by writer index; each must be whole.
inline std::vector<lines> read_rendered(const std::string& dir) {
    std::vector<trace_file> parsed;
    std::map<std::string, std::string> names;  // address -> name
    for (std::string path; std::ifstream(path = dir + "/_mvt." + std::to_string(parsed.size())).good();) {
        parsed.push_back(parse_trace(path));
        EXPECT_TRUE(parsed.back().whole()) << path << ": " << parsed.back().error;
        for (const char* kind : {"domain_createA", "string_handle_createA"})
            for (const trace_record* r : parsed.back().named(kind)) names[r->fields.at(2).text] = r->fields.at(4).text;
    }
    EXPECT_FALSE(parsed.empty()) << dir << ": no trace files";
    std::vector<lines> out(parsed.size());
    for (size_t k = 0; k < parsed.size(); ++k) {
        for (const trace_record& r : parsed[k].records) {
            std::string line = r.name();
            for (size_t f = 2; f < r.fields.size(); ++f) {
                const trace_field& field = r.fields[f];
                const auto named = names.find(field.text);
                line += ' ' + (field.is_id                ? id_text(field.id[0], field.id[1], field.id[2])
                               : named != names.end() ? "@" + named->second
                                                      : field.text);
            }
            if (r.name() != "end_of_records") out[k].push_back(line);
        }
    }
    return out;
}

}  // namespace mvt_test

#endif
