#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "model/execution_tracker.h"
#include "files.h"
#include "common/text_format.h"
#include "reading/trace_directory.h"
#include "output/dot_output.h"
#include "trace_text.h"

namespace {

using namespace mvt_trace;

trace_record make(record_kind kind, std::uint64_t ts) {
    trace_record r;
    r.kind = kind;
    r.timestamp = ts;
    return r;
}

trace_record with_id(record_kind kind, std::uint64_t ts, trace_id id, std::uint64_t name = 0) {
    trace_record r = make(kind, ts);
    r.fields[1].id = id;
    r.fields[3].number = name;
    return r;
}

trace_record relation(trace_id head, int kind, trace_id tail) {
    trace_record r = make(record_kind::relation, 1);
    r.fields[1].id = head;
    r.fields[2].number = static_cast<std::uint64_t>(kind);
    r.fields[3].id = tail;
    return r;
}

trace_record task_group(trace_id id, trace_id parent, std::uint64_t name) {
    trace_record r = make(record_kind::task_group, 1);
    r.fields[1].id = id;
    r.fields[2].id = parent;
    r.fields[3].number = name;
    return r;
}

class recorded : public execution_listener {
public:
    void task_done(const execution& e) override { tasks.push_back(e); }
    void region_done(const execution& e) override { regions.push_back(e); }
    std::vector<execution> tasks, regions;
};

TEST(tool_model, task_ends_close_the_innermost_task_and_leftovers_close_at_the_last_timestamp) {
    recorded out;
    execution_tracker tracker(out);
    tracker.record(make(record_kind::task_end, 5));  // nothing open yet
    tracker.record(with_id(record_kind::task_begin, 10, {1, 0, 0}, 100));
    tracker.record(with_id(record_kind::task_begin, 20, {2, 0, 0}, 200));
    tracker.record(make(record_kind::task_end, 30));
    tracker.record(with_id(record_kind::region_begin, 31, {9, 0, 0}, 300));
    tracker.record(with_id(record_kind::region_begin, 32, {8, 0, 0}, 300));
    tracker.record(with_id(record_kind::region_end, 40, {9, 0, 0}));  // ends by identifier, not nesting
    tracker.record(with_id(record_kind::region_end, 41, {7, 0, 0}));
    tracker.record(make(record_kind::end_of_records, 50));
    tracker.finish_file();

    ASSERT_EQ(out.tasks.size(), 2u);
    EXPECT_EQ(out.tasks[0].id, (trace_id{2, 0, 0}));
    EXPECT_EQ(out.tasks[0].end - out.tasks[0].begin, 10u);
    EXPECT_EQ(out.tasks[0].depth, 1u);
    EXPECT_FALSE(out.tasks[0].open_at_end);
    EXPECT_EQ(out.tasks[1].id, (trace_id{1, 0, 0}));
    EXPECT_EQ(out.tasks[1].end, 50u);
    EXPECT_TRUE(out.tasks[1].open_at_end);
    ASSERT_EQ(out.regions.size(), 2u);
    EXPECT_EQ(out.regions[0].id, (trace_id{9, 0, 0}));
    EXPECT_EQ(out.regions[0].end, 40u);
    EXPECT_TRUE(out.regions[1].open_at_end);
    EXPECT_EQ(tracker.unmatched_task_ends(), 1u);
    EXPECT_EQ(tracker.unmatched_region_ends(), 1u);
    EXPECT_EQ(tracker.open_at_end(), 2u);
}

std::string dot_of(const std::vector<trace_record>& given, const std::vector<std::string>& handles) {
    // The names come from a creation record in a file, as in a real run.
    using namespace trace_text;
    std::string records;
    for (std::size_t h = 0; h < handles.size(); ++h) records += string_handle(1, h + 1, handles[h]);
    auto id_of = [](const trace_id& i) { return id(i.d1, i.d2, i.d3); };
    for (const trace_record& r : given) {
        const std::string tail = r.kind == record_kind::task_group ? id_of(r.id(2)) + field(r.number(3))
                                                                    : field(r.number(2)) + id_of(r.id(3));
        records += record(std::string(record_name(r.kind)), 2, field(1) + id_of(r.id(1)) + tail);
    }
    mvt_test::temp_dir dir;
    mvt_test::write_file(dir / "_mvt.0", file(records, 3, 1));
    std::vector<trace_file> files;
    std::string error;
    EXPECT_TRUE(list_trace_files(dir.path(), files, error)) << error;
    std::ostringstream out;
    std::vector<file_report> reports = write_dot(files, {dir.path()}, {}, out);
    EXPECT_EQ(reports.at(0).status, file_status::whole) << reports.at(0).message;
    return out.str();
}

TEST(tool_model, dot_keeps_the_first_parent_and_survives_missing_and_looping_parents) {
    std::string dot = dot_of(
        {
            task_group({1, 0, 0}, {}, 1),          // "outer"
            task_group({2, 0, 0}, {1, 0, 0}, 2),   // "a \"quoted\"\nname"
            task_group({2, 0, 0}, {3, 0, 0}, 2),   // declared again elsewhere: stays under 1
            task_group({4, 0, 0}, {50, 0, 0}, 1),  // parent never declared
            task_group({6, 0, 0}, {7, 0, 0}, 1),   // 6 and 7 are each other's parent
            task_group({7, 0, 0}, {6, 0, 0}, 1),
            relation({2, 0, 0}, 7, {1, 0, 0}),
        },
        {"outer", "a \"quoted\"\nname"});
    // 1 holds 2 and, having an edge, a node of its own inside its box.
    EXPECT_NE(dot.find("subgraph cluster_0 {\n    label=\"outer\";"), std::string::npos) << dot;
    EXPECT_NE(dot.find("    n0 [label=\"outer\\n1\""), std::string::npos) << dot;
    EXPECT_NE(dot.find("    n1 [label=\"a \\\"quoted\\\" name\\n2\""), std::string::npos) << dot;
    EXPECT_NE(dot.find("\n  n2 [label=\"outer\\n4\""), std::string::npos) << dot;  // at the top
    EXPECT_NE(dot.find("n1 -> n0;"), std::string::npos) << dot;
    // 6 and 7 hold each other: cut, one holds the other.
    EXPECT_NE(dot.find("subgraph cluster_4 {\n    label=\"outer\";\n    style=\"rounded,filled\"; fillcolor=\"#f8f9fc\"; "
                       "color=\"#9aa3b2\";\n    n3 "),
              std::string::npos)
        << dot;
    EXPECT_EQ(std::count(dot.begin(), dot.end(), '{'), std::count(dot.begin(), dot.end(), '}'));
}

TEST(tool_model, text_formats_are_exact_and_escape_what_their_formats_forbid) {
    EXPECT_EQ(format_duration(0), "0 ns");
    EXPECT_EQ(format_duration(999), "999 ns");
    EXPECT_EQ(format_duration(1000), "1.000 us");
    EXPECT_EQ(format_duration(1234567), "1.235 ms");
    EXPECT_EQ(format_duration(18446744073709551615u), "18446744073.710 s");
    EXPECT_EQ(microseconds_text(1796347852000000007u), "1796347852000000.007");
    EXPECT_EQ(format_utc(1796347852000000007u), "2026-12-04 01:30:52.000000007 UTC");
    EXPECT_EQ(json_escape("a\"b\\c\nd\x01\xc3"), "a\\\"b\\\\c\\nd\\u0001\\u00c3");
    EXPECT_EQ(xml_escape("<a & 'b'>\x01"), "&lt;a &amp; &apos;b&apos;&gt;?");
}

}  // namespace
