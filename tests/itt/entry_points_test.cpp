// Every exported event function, called once through dlsym() in a child
// process, compared with the trace it leaves line by line.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "child_process.h"
#include "files.h"
#include "trace_reader.h"

namespace {

using mvt_test::temp_dir;

mvt_test::child_result run_client(const temp_dir& dir, const std::string& mode) {
    return mvt_test::run_child({MVT_TRACE_CLIENT, MVT_LIB_PATH, mode}, {dir.path(), {"MVA_DIR=" + dir.path()}, {}, 120});
}

std::map<std::string, std::string> values_printed(const std::string& out) {
    std::map<std::string, std::string> values;
    std::istringstream in(out);
    std::string key, value;
    while (in >> key >> std::ws && std::getline(in, value)) values[key] = value;
    return values;
}

// The expected body of a file; "TS" stands for any timestamp.
std::vector<std::string> expected_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string id(unsigned long long a, unsigned long long b, unsigned long long c) {
    return "<compound_field>\n<field>" + std::to_string(a) + "</field>\n<field>" + std::to_string(b) +
           "</field>\n<field>" + std::to_string(c) + "</field>\n</compound_field>\n";
}

std::string field(const std::string& text) { return "<field>" + text + "</field>\n"; }

std::string record(const std::string& name, const std::string& fields) {
    return "<record>\n" + field(name) + "TS\n" + fields + "</record>\n";
}

TEST(IttEntryPoints, EachCallWritesItsRecordExactly) {
    temp_dir dir;
    mvt_test::child_result r = run_client(dir, "records");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::map<std::string, std::string> printed = values_printed(r.out);
    EXPECT_EQ(printed["version"], "Morvane Collector 0.02");
    std::string d = field(printed["domain"]);
    std::string h = field(printed["handle"]);
    std::string expected =
        "<?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() + "\n" +
        record("domain_createA", d + field("6") + field("openmp")) +
        record("string_handle_createA", h + field("12") + field("omp_parallel")) +
        record("id_create", d + id(5, 0, 0)) +
        record("id_destroy", d + id(1, 2, 3)) +
        record("metadata", d + id(5, 0, 0) + h + field("1") + field("1") + field("18446744073709551615")) +
        record("metadata", d + id(5, 0, 0) + h + field("3") + field("1") + field("7")) +
        record("metadata_stringA", d + id(5, 0, 0) + h + field("0") + field("a<b&c\nd")) +
        record("metadata_stringA", d + id(5, 0, 0) + h + field("2") + field("text")) +
        record("relation", d + id(1, 0, 0) + field("7") + id(2, 0, 0)) +
        record("task_begin", d + id(5, 0, 0) + id(0, 0, 0) + h + field("0")) +
        record("task_end", d) +
        record("task_group", d + id(6, 0, 0) + id(19, 0, 0) + h) +
        record("region_begin", d + id(7, 0, 0) + id(6, 0, 0) + h) +
        record("region_end", d + id(7, 0, 0)) +
        record("task_end", field("0")) +
        record("end_of_records", "") + "</trace>\n";
    std::vector<std::string> want = expected_lines(expected);
    std::vector<std::string> got = mvt_test::read_lines(dir / "_mvt.0");
    ASSERT_EQ(got.size(), want.size());
    const std::regex timestamp("<field>[0-9]{19}</field>");
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] == "TS")
            EXPECT_TRUE(std::regex_match(got[i], timestamp)) << "line " << i + 1 << ": " << got[i];
        else
            EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
    }
}

TEST(IttEntryPoints, HostileArgumentsNeverCrashAndAlwaysYieldUsableObjects) {
    temp_dir dir;
    mvt_test::child_result r = run_client(dir, "hostile");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "null names usable\nhuge name kept\n");
    mvt_test::trace_file file = mvt_test::parse_trace(dir / "_mvt.0");
    ASSERT_TRUE(file.whole()) << file.error;
    // Null names count as the empty name; huge names stay whole in the trace.
    auto domains = file.named("domain_createA");
    ASSERT_EQ(domains.size(), 2u);
    EXPECT_EQ(domains[0]->fields[4].text, "");
    EXPECT_EQ(domains[0]->fields[2].text, domains[1]->fields[2].text);
    auto handles = file.named("string_handle_createA");
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_EQ(handles[1]->fields[3].text, "232");
    EXPECT_EQ(handles[1]->fields[4].text.size(), 1u << 20);
    // A null value is recorded as 0; out-of-range counts and types are dropped.
    auto metadata = file.named("metadata");
    ASSERT_EQ(metadata.size(), 1u);
    EXPECT_EQ(metadata[0]->fields.back().text, "0");
    auto strings = file.named("metadata_stringA");
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[0]->fields[6].text, "");
    EXPECT_EQ(file.named("relation")[0]->fields[4].text, "255");
}

}  // namespace
