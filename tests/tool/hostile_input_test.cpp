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

// A trace whose one metadata string is `length` bytes long, written as the
// library writes any string: whole, on one line.
std::string trace_with_string_of(std::size_t length) {
    using namespace trace_text;
    const std::string text(length, 's');
    return file(record("metadata_stringA", 10, field(1) + id(7) + field(2) + field(length) + field(text)), 20, 1);
}

TEST(tool_hostile_input, a_line_past_the_limit_ends_the_reading_in_bounded_memory) {
    mvt_test::temp_dir dir;
    mvt_test::write_file(dir / "f", "short\n" + std::string(5000, 'x') + "\n" + std::string(1000, 'y') + "\nafter\n");
    for (const bool skipping : {false, true}) {
        line_reader reader(64, 1000);
        ASSERT_TRUE(reader.open(dir / "f"));
        std::string_view line;
        ASSERT_TRUE(reader.next(line));
        EXPECT_EQ(line, "short");
        if (skipping)
            EXPECT_EQ(reader.skip(3), 0u);
        else
            EXPECT_FALSE(reader.next(line));
        EXPECT_TRUE(reader.line_too_long());
        EXPECT_EQ(reader.error(), "line longer than 1000 bytes");
        EXPECT_EQ(reader.line_number() + 1, 2u);  // the long line's number
        EXPECT_EQ(reader.bytes_consumed(), 6u);   // where it starts
        EXPECT_LE(reader.capacity(), 64u + 1000u);
        EXPECT_FALSE(reader.next(line));  // and it stays stopped
    }
    // A line at the limit is no problem, nor is one that ends the file
    // without a line feed.
    mvt_test::write_file(dir / "g", std::string(1000, 'y') + "\n" + std::string(1000, 'z'));
    line_reader reader(64, 1000);
    ASSERT_TRUE(reader.open(dir / "g"));
    std::string_view line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line.size(), 1000u);
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, std::string(1000, 'z'));
    EXPECT_FALSE(reader.ended_with_line_feed());
    EXPECT_FALSE(reader.line_too_long());
    EXPECT_LE(reader.capacity(), 64u + 1000u);
}

TEST(tool_hostile_input, a_trace_file_with_a_2_mb_line_is_malformed_there_and_memory_stays_bounded) {
    mvt_test::temp_dir dir;
    mvt_test::write_file(dir / "_mvt.0", trace_with_string_of(2'000'000));
    trace_file_reader reader(dir / "_mvt.0");
    const trace_record* record = nullptr;
    EXPECT_FALSE(reader.next(record));
    EXPECT_EQ(reader.report().status, file_status::malformed);
    EXPECT_EQ(reader.report().line, 14u);  // the text field's line
    EXPECT_EQ(reader.report().message, "line longer than 1 MiB");

    // A string just under the limit is read, and the reader never holds
    // more than the limit and one read.
    mvt_test::write_file(dir / "_mvt.1", trace_with_string_of(line_reader::default_max_line - 15));
    trace_file_reader fits(dir / "_mvt.1");
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
