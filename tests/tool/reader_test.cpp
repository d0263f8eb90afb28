#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files.h"
#include "reading/line_reader.h"
#include "reading/trace_file_reader.h"
#include "trace_text.h"

namespace {

using namespace mvt_trace;

const std::string header = trace_text::file("", 0, 8);
const std::string closing = trace_text::record("end_of_records", 1796347852000900000) + "</trace>\n";

struct read_result {
    file_report report;
    std::vector<trace_record> records;
    std::vector<std::string> texts;  // every text field, in order
};

read_result read_text(const std::string& content) {
    static const mvt_test::temp_dir dir;  // one file, written again for every read
    mvt_test::write_file(dir / "_mvt.0", content);
    trace_file_reader reader(dir / "_mvt.0");
    read_result result;
    const trace_record* record = nullptr;
    while (reader.next(record)) {
        result.records.push_back(*record);
        const record_layout& layout = layout_of(record->kind);
        for (std::size_t i = 0; i < layout.field_count; ++i)
            if (layout.fields[i] == field_kind::narrow_text) result.texts.emplace_back(record->fields[i].text);
    }
    result.report = reader.report();
    return result;
}

using trace_text::field;

std::string metadata_string_record(const std::string& text) {
    const std::string fields = field(94812345678000) + trace_text::id(7) + field(94812345679000);
    return trace_text::record("metadata_stringA", 1796347852000000100, fields + field(text.size()) + field(text));
}

std::string task_end_with(const std::string& domain_line) {
    return trace_text::record("task_end", 1796347852000000100, domain_line);
}

TEST(tool_reader, text_fields_keep_line_feeds_and_markup) {
    read_result r = read_text(header + metadata_string_record("a\nb<c>&\n\n</field") +
                              metadata_string_record("") + metadata_string_record("x\n") + closing);
    ASSERT_EQ(r.report.status, file_status::whole) << r.report.message;
    EXPECT_EQ(r.texts, (std::vector<std::string>{"a\nb<c>&\n\n</field", "", "x\n"}));
    EXPECT_EQ(r.records[0].fields[1].id, (trace_id{7, 0, 0}));
}

TEST(tool_reader, number_fields_are_exact) {
    struct line_case {
        std::string domain_line;
        bool accepted;
    };
    const std::vector<line_case> cases = {
        {field("18446744073709551615"), true}, {field("0"), true},
        {field("18446744073709551616"), false}, {field("007"), false},
        {field("-1"), false}, {field(""), false},
        {field("12a"), false}, {"<field>5</field> \n", false},
    };
    for (const line_case& c : cases) {
        read_result r = read_text(header + task_end_with(c.domain_line) + closing);
        EXPECT_EQ(r.report.status == file_status::whole, c.accepted) << c.domain_line << r.report.message;
        EXPECT_EQ(r.report.line, c.accepted ? 0u : 6u) << c.domain_line;
    }
}

TEST(tool_reader, every_cut_of_a_whole_file_is_truncated_with_its_whole_records) {
    std::vector<std::string> lines = mvt_test::read_lines(std::string(MVT_TOOL_DATA) + "/openmp_run/_mvt.1");
    ASSERT_GT(lines.size(), 100u);
    std::string prefix;
    std::uint64_t records_closed = 0;
    for (std::size_t kept = 0; kept < lines.size(); ++kept) {
        read_result r = read_text(prefix);
        EXPECT_EQ(r.report.status, file_status::truncated) << kept << " lines";
        EXPECT_EQ(r.report.whole_records, records_closed) << kept << " lines";
        EXPECT_EQ(r.report.line, kept + 1) << kept << " lines";
        // The same cut in the middle of the next line.
        read_result partial = read_text(prefix + lines[kept].substr(0, lines[kept].size() / 2 + 1));
        EXPECT_EQ(partial.report.status, file_status::truncated) << kept << " lines and a half";
        EXPECT_EQ(partial.report.whole_records, records_closed);
        prefix += lines[kept] + "\n";
        if (lines[kept] == "</record>") ++records_closed;
    }
    EXPECT_EQ(read_text(prefix).report.status, file_status::whole);
}

TEST(tool_reader, malformed_lines_are_reported_where_they_are) {
    struct bad_case {
        std::string content;
        std::uint64_t line;
        std::string expected_words;
    };
    const std::vector<bad_case> cases = {
        {"<?xml version='1.0'?>\n", 1, "<?xml version=\"1.0\"?>"},
        {header + "<record>\n<field>task_begun</field>\n", 4, "record name"},
        {header + task_end_with("<field>1</field>\n<field>2</field>\n"), 7, "\"</record>\""},
        {header + "<record>\r\n", 3, "\"<record>\""},
        {header + closing + "\n", 8, "nothing after"},
        {header + "</trace>\n", 3, "end_of_records"},
    };
    for (const bad_case& c : cases) {
        read_result r = read_text(c.content);
        EXPECT_EQ(r.report.status, file_status::malformed) << c.content;
        EXPECT_EQ(r.report.line, c.line) << c.content;
        EXPECT_NE(r.report.message.find(c.expected_words), std::string::npos) << r.report.message;
    }
}

TEST(tool_reader, line_reader_grows_for_long_lines_and_keeps_an_unended_last_line) {
    mvt_test::temp_dir dir;
    std::string long_line(5000, 'x');
    mvt_test::write_file(dir / "f", "a\n" + long_line + "\n\nlast");
    line_reader reader(64);
    ASSERT_TRUE(reader.open(dir / "f"));
    std::vector<std::string> got;
    std::vector<bool> ended;
    std::string_view line;
    while (reader.next(line)) {
        got.emplace_back(line);
        ended.push_back(reader.ended_with_line_feed());
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a", long_line, "", "last"}));
    EXPECT_EQ(ended, (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(reader.bytes_consumed(), 2 + long_line.size() + 2 + 4);
    EXPECT_FALSE(reader.open(dir / "missing"));
}

}  // namespace
