// Domains and string handles: one object per distinct name however many
// threads ask at once, and a creation record for every call.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "child_process.h"
#include "files.h"
#include "trace_reader.h"

namespace {

using mvt_test::temp_dir;

mvt_test::child_result run_client(const temp_dir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {MVT_TRACE_CLIENT, MVT_LIB_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return mvt_test::run_child(argv, {dir.path(), {"MVA_DIR=" + dir.path()}, {}, 120});
}

struct creation {
    std::string kind, name, pointer;
};

std::vector<creation> creations_printed(const std::string& out) {
    std::vector<creation> result;
    const std::regex line("[0-9]+ (domain|handle) '([^']*)' 0x([0-9a-f]+)");
    std::istringstream in(out);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_match(text, m, line))
            result.push_back({m[1], m[2], std::to_string(std::stoull(m[3].str(), nullptr, 16))});
    }
    return result;
}

TEST(IttRegistry, RacingThreadsGetOnePointerPerNameAndEachWritesItsOwnRecords) {
    const int threads = 8;
    temp_dir dir;
    mvt_test::child_result r = run_client(dir, {"registry_race", std::to_string(threads)});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<creation> printed = creations_printed(r.out);
    ASSERT_EQ(printed.size(), threads * 7u * 2u);

    std::map<std::pair<std::string, std::string>, std::set<std::string>> pointers_by_name;
    for (const creation& c : printed) pointers_by_name[{c.kind, c.name}].insert(c.pointer);
    std::set<std::string> distinct;
    for (const auto& [key, pointers] : pointers_by_name) {
        EXPECT_EQ(pointers.size(), 1u) << key.first << " '" << key.second << "'";
        distinct.insert(*pointers.begin());
    }
    // Case, prefixes and the kind of object all make different names.
    EXPECT_EQ(distinct.size(), 14u);

    std::multiset<std::string> recorded;
    for (const std::string& name : mvt_test::list_dir(dir.path())) {
        mvt_test::trace_file file = mvt_test::parse_trace(dir / name);
        ASSERT_TRUE(file.whole()) << name << ": " << file.error;
        for (const char* kind : {"domain_createA", "string_handle_createA"})
            for (const mvt_test::trace_record* rec : file.named(kind)) {
                EXPECT_EQ(rec->fields[3].number(), rec->fields[4].text.size());
                recorded.insert(std::string(kind) == "domain_createA" ? "domain" : "handle");
                recorded.insert(rec->fields[2].text + " " + rec->fields[4].text);
            }
    }
    EXPECT_EQ(recorded.count("domain"), threads * 7u);
    EXPECT_EQ(recorded.count("handle"), threads * 7u);
    for (const creation& c : printed) EXPECT_EQ(recorded.count(c.pointer + " " + c.name), static_cast<size_t>(threads)) << c.name;
}

TEST(IttRegistry, LengthFieldKeepsTheLowByteOfTheCappedLengthButNamesStayWhole) {
    temp_dir dir;
    mvt_test::child_result r = run_client(dir, {"names"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    mvt_test::trace_file file = mvt_test::parse_trace(dir / "_mvt.0");
    ASSERT_TRUE(file.whole()) << file.error;
    ASSERT_EQ(file.records.size(), 4u);
    EXPECT_EQ(file.records[0].fields[3].text, "44");
    EXPECT_EQ(file.records[0].fields[4].text, std::string(300, 'd'));
    EXPECT_EQ(file.records[1].fields[3].text, "232");
    EXPECT_EQ(file.records[1].fields[4].text, std::string(1200, 'h'));
    EXPECT_EQ(file.records[2].fields[3].text, "0");
    EXPECT_EQ(file.records[2].fields[4].text, "");
}

}  // namespace
