// Reading trace files: what the library writes, cut anywhere, malformed,
// and as a careless or hostile user could leave them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "cli/output_file.h"
#include "files.h"
#include "reading/line_reader.h"
#include "reading/trace_directory.h"
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

// Lines up to the limit are read whole, the buffer grown for them, the last
// one with or without its line feed; a line past the limit ends the reading
// where it starts, in bounded memory.
TEST(tool_hostile_input, the_line_reader_grows_to_its_limit_and_stops_past_it) {
    mvt_test::temp_dir dir;
    const std::string at_limit(1000, 'y');
    mvt_test::write_file(dir / "fits", "a\n" + at_limit + "\n\nlast");
    line_reader fits(64, 1000);
    ASSERT_TRUE(fits.open(dir / "fits"));
    std::vector<std::string> got;
    std::vector<bool> ended;
    std::string_view line;
    while (fits.next(line)) {
        got.emplace_back(line);
        ended.push_back(fits.ended_with_line_feed());
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a", at_limit, "", "last"}));
    EXPECT_EQ(ended, (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(fits.bytes_consumed(), 2 + at_limit.size() + 2 + 4);
    EXPECT_FALSE(fits.line_too_long());
    EXPECT_LE(fits.capacity(), 64u + 1000u);
    EXPECT_FALSE(fits.open(dir / "missing"));

    mvt_test::write_file(dir / "f", "short\n" + std::string(5000, 'x') + "\n" + at_limit + "\nafter\n");
    line_reader reader(64, 1000);
    ASSERT_TRUE(reader.open(dir / "f"));
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, "short");
    EXPECT_FALSE(reader.next(line));
    EXPECT_TRUE(reader.line_too_long());
    EXPECT_EQ(reader.error(), "line longer than 1000 bytes");
    EXPECT_EQ(reader.line_number() + 1, 2u);  // the long line's number
    EXPECT_EQ(reader.bytes_consumed(), 6u);   // where it starts
    EXPECT_LE(reader.capacity(), 64u + 1000u);
    EXPECT_FALSE(reader.next(line));  // and it stays stopped
}

// A string just under the limit is read; one of 2 MB is refused (where, the
// check command shows), and no reader holds more than the limit and one read.
TEST(tool_hostile_input, a_trace_file_with_a_2_mb_line_is_malformed_and_memory_stays_bounded) {
    mvt_test::temp_dir dir;
    mvt_test::write_file(dir / "_mvt.0", header + metadata_string_record(std::string(2'000'000, 's')) + closing);
    mvt_test::write_file(dir / "_mvt.1", header + metadata_string_record(std::string(line_reader::default_max_line - 15, 's')) + closing);
    const trace_record* record = nullptr;
    trace_file_reader too_long(dir / "_mvt.0"), fits(dir / "_mvt.1");
    EXPECT_FALSE(too_long.next(record));
    EXPECT_EQ(too_long.report().status, file_status::malformed);
    while (fits.next(record)) {
    }
    EXPECT_EQ(fits.report().status, file_status::whole) << fits.report().message;
    line_reader lines;
    ASSERT_TRUE(lines.open(dir / "_mvt.0"));
    std::string_view line;
    while (lines.next(line)) {
    }
    EXPECT_TRUE(lines.line_too_long());
    EXPECT_LE(lines.capacity(), 2 * line_reader::default_max_line);
}

// The directory of a run as a careless or hostile user could leave it.
struct hostile_directory {
    mvt_test::temp_dir dir;
    hostile_directory() {
        const std::string whole = trace_text::file("", 20, 1);
        for (const char* name : {"_mvt.0", "_mvt.2147483647", "_mvt.00", "_mvt.+1", "_mvt.2147483648", "_mvt.1~",
                                 "_mvt.", "_mvt.99999999999999999999", "notes.txt"})
            mvt_test::write_file(dir / name, whole);
        EXPECT_EQ(::mkfifo((dir / "_mvt.1").c_str(), 0600), 0);
        EXPECT_EQ(::symlink("/dev/zero", (dir / "_mvt.2").c_str()), 0);
        EXPECT_EQ(::mkdir((dir / "_mvt.3").c_str(), 0700), 0);
        EXPECT_EQ(::symlink("_mvt.0", (dir / "_mvt.4").c_str()), 0);  // a link to a trace file is one
    }
};

TEST(tool_hostile_input, the_listing_takes_regular_files_with_canonical_names_and_names_the_rest) {
    hostile_directory run;
    std::vector<trace_file> files;
    std::vector<ignored_entry> ignored;
    std::string error;
    ASSERT_TRUE(list_trace_files(run.dir.path(), files, ignored, error)) << error;
    std::vector<std::string> names;
    for (const trace_file& f : files) names.push_back(f.name + "=" + std::to_string(f.index));
    EXPECT_EQ(names, (std::vector<std::string>{"_mvt.0=0", "_mvt.4=4", "_mvt.2147483647=2147483647"}));
    EXPECT_EQ(files[0].size, trace_text::file("", 20, 1).size());
    std::vector<std::string> passed_over;
    for (const ignored_entry& e : ignored)
        passed_over.push_back(e.name + ": " + e.reason + (e.trace_name ? " *" : ""));
    EXPECT_EQ(passed_over, (std::vector<std::string>{
                               "_mvt.: not a trace file name",
                               "_mvt.+1: not a trace file name",
                               "_mvt.00: not a trace file name",
                               "_mvt.1: a FIFO, not a trace file *",
                               "_mvt.1~: not a trace file name",
                               "_mvt.2: a character device, not a trace file *",
                               "_mvt.2147483648: not a trace file name",
                               "_mvt.3: a directory, not a trace file *",
                               "_mvt.99999999999999999999: not a trace file name",
                           }));

    // Given by name, a FIFO is refused and a regular file taken as it is.
    EXPECT_FALSE(list_trace_files(run.dir / "_mvt.1", files, error));
    EXPECT_EQ(error, run.dir / "_mvt.1 is a FIFO, not a trace directory or file");
    // Opened all the same, it is refused without waiting for a writer.
    line_reader reader;
    EXPECT_FALSE(reader.open(run.dir / "_mvt.1"));
    EXPECT_EQ(reader.error(), "a FIFO, not a trace file");
    EXPECT_FALSE(reader.open(run.dir / "_mvt.2"));
    EXPECT_EQ(reader.error(), "a character device, not a trace file");

    // A directory with nothing readable says what it found.
    mvt_test::temp_dir only_fifo;
    ASSERT_EQ(::mkfifo((only_fifo / "_mvt.0").c_str(), 0600), 0);
    EXPECT_FALSE(list_trace_files(only_fifo.path(), files, error));
    EXPECT_EQ(error, only_fifo.path() + " holds no readable trace file: _mvt.0: a FIFO, not a trace file");
}

// The output must be given up, its temporary file gone, when a signal stops
// the command half-way: a forked child is stopped so.
TEST(tool_hostile_input, an_output_stopped_by_a_signal_leaves_no_temporary_file) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        mvt_test::temp_dir out;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            output_file file;
            std::string error;
            if (!file.open(out / "result.txt", {}, error)) ::_exit(3);
            file.stream() << "half of a result";
            file.stream().flush();
            std::raise(signal_number);
            ::_exit(4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_TRUE(mvt_test::list_dir(out.path()).empty());
    }
}

}  // namespace
