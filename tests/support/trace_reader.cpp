#include "trace_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <thread>

namespace mvt_test {

trace_file parse_trace(const std::string& path) {
    trace_file file;
    const lines l = read_lines(path);
    size_t i = 2;
    auto fail = [&](const std::string& what) {
        file.error = "line " + std::to_string(i + 1) + ": " + what;
        return file;
    };
    // A text field from line i on, which may span lines; false when out of place or cut short.
    auto text = [&](std::string& out) {
        if (i >= l.size() || l[i].compare(0, 7, "<field>") != 0) return false;
        std::string t = l[i].substr(7);
        while (t.size() < 8 || t.compare(t.size() - 8, 8, "</field>") != 0) {
            if (++i >= l.size()) return false;
            t += "\n" + l[i];
        }
        ++i;
        out = t.substr(0, t.size() - 8);
        return true;
    };
    if (l.size() < 2 || l[0] != "<?xml version=\"1.0\"?>" || l[1] != expected_trace_header_line())
        return fail("header expected");
    while (i < l.size()) {
        if (l[i] == "</trace>") {
            file.closed = true;
            return ++i == l.size() ? file : fail("lines after </trace>");
        }
        if (l[i++] != "<record>") return fail("expected <record>");
        trace_record record;
        while (i < l.size() && l[i] != "</record>") {
            trace_field field;
            if (l[i] == "<compound_field>") {
                field.is_id = true;
                ++i;
                for (unsigned long long& word : field.id) {
                    std::string digits;
                    if (!text(digits) || digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
                        std::to_string(word = std::stoull(digits)) != digits)
                        return fail("identifier word expected");
                }
                if (i >= l.size() || l[i++] != "</compound_field>") return fail("</compound_field> expected");
            } else if (!text(field.text)) {
                return fail("field expected");
            }
            record.fields.push_back(field);
        }
        if (i++ >= l.size()) return fail("record cut short");
        file.records.push_back(std::move(record));
    }
    return file;
}

std::string expected_trace_header_line() {
    return "<trace version=\"0\" ts_frequency=\"1000000000\" hardware_concurrency=\"" +
           std::to_string(std::thread::hardware_concurrency()) + "\">";
}

std::string id_text(unsigned long long a, unsigned long long b, unsigned long long c) {
    return "{" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "}";
}

std::vector<lines> read_rendered(const std::string& dir) {
    std::vector<trace_file> parsed;
    std::map<std::string, std::string> by_address, by_name;  // address -> kind and name, and back
    for (std::string path; std::ifstream(path = dir + "/_mvt." + std::to_string(parsed.size())).good();) {
        parsed.push_back(parse_trace(path));
        EXPECT_TRUE(parsed.back().whole()) << path << ": " << parsed.back().error;
        for (const trace_record& r : parsed.back().records)
            if (r.name() == "domain_createA" || r.name() == "string_handle_createA") {
                const std::string &address = r.fields.at(2).text, name = r.name() + " " + r.fields.at(4).text;
                EXPECT_EQ(by_address.emplace(address, name).first->second, name) << "two names at " << address;
                EXPECT_EQ(by_name.emplace(name, address).first->second, address) << "two addresses of " << name;
            }
    }
    EXPECT_FALSE(parsed.empty()) << dir << ": no trace files";
    std::vector<lines> out(parsed.size());
    for (size_t k = 0; k < parsed.size(); ++k) {
        for (const trace_record& r : parsed[k].records) {
            std::string line = r.name();
            for (size_t f = 2; f < r.fields.size(); ++f) {
                const trace_field& field = r.fields[f];
                const auto named = by_address.find(field.text);
                line += ' ' + (field.is_id                     ? id_text(field.id[0], field.id[1], field.id[2])
                               : named != by_address.end() ? "@" + named->second.substr(named->second.find(' ') + 1)
                                                           : field.text);
            }
            if (r.name() != "end_of_records") out[k].push_back(line);
        }
    }
    return out;
}

traced_run::traced_run(const std::vector<std::string>& argv, child_options options) {
    options.set_env.push_back("MVA_DIR=" + dir.path());
    if (options.cwd.empty()) options.cwd = dir.path();
    child = run_child(argv, options);
    EXPECT_EQ(child.exit_code, 0) << child.out << child.err;
    files = read_rendered(dir.path());
}

}  // namespace mvt_test
