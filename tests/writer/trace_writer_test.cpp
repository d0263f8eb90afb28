// The writer on its own, for what the records that entry_points_test
// compares whole (every field kind among them) cannot show: the bytes it
// reads of a value, write_begin_record given bad arguments, and the standard
// error fallback when its file cannot be opened.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>

#include "files.h"
#include "trace_reader.h"
#include "writer/record_catalogue.h"
#include "writer/trace_writer.h"

namespace {

using lines = std::vector<std::string>;

// What a writer of _mvt.0 that `calls` are made on leaves after its two
// header lines, its closing line included.
lines body_written(const std::function<void(writer::trace_writer&)>& calls) {
    mvt_test::temp_dir dir;
    {
        writer::trace_writer w(0, dir.path());
        calls(w);
    }
    const lines all = mvt_test::read_lines(dir / "_mvt.0");
    return all.size() < 2 ? all : lines(all.begin() + 2, all.end());
}

TEST(TraceWriter, WriteBytesReadsOnlyTheBytesItIsGiven) {
    // The 4-byte value sits at the very end of a readable page, so reading
    // one byte more would fault.
    long page = sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    unsigned int seven = 7;
    char* at_edge = pages + page - 4;
    std::memcpy(at_edge, &seven, 4);
    const lines body = body_written([at_edge](writer::trace_writer& w) {
        w.write_bytes(4, at_edge);
        w.write_bytes(4, nullptr);
        w.write_bytes(3, at_edge);
    });
    munmap(pages, 2 * page);
    EXPECT_EQ(body, (lines{"<field>7</field>", "<field>0</field>", "<field>0</field>", "</trace>"}));
}

// An unknown record type and a null writer write nothing.
TEST(TraceWriter, WriteBeginRecordOpensANamedTimestampedRecord) {
    const lines body = body_written([](writer::trace_writer& w) {
        writer::write_begin_record(&w, __itt_record_task_end);
        w.end_record();
        writer::write_begin_record(&w, static_cast<__itt_record_t>(18));
        writer::write_begin_record(nullptr, __itt_record_task_end);
    });
    ASSERT_EQ(body.size(), 5u);
    EXPECT_EQ(body[0] + body[1] + body[3] + body[4], "<record><field>task_end</field></record></trace>");
    EXPECT_TRUE(std::regex_match(body[2], std::regex("<field>[0-9]{19}</field>"))) << body[2];
}

TEST(TraceWriter, UnopenedWriterReportsEachCallOnStandardError) {
    mvt_test::temp_dir dir;
    testing::internal::CaptureStderr();
    {
        writer::trace_writer w(0, dir / "missing");
        EXPECT_FALSE(w.is_open());
        w.write_id(1, 2, 3);
        mkdir((dir / "missing").c_str(), 0755);
        w.begin_record();  // the directory exists now, yet the file is never opened later
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING NO OPEN FILE: <?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() +
                  "\nWARNING NO OPEN FILE: <compound_field>\n<field>1</field>\n<field>2</field>\n"
                  "<field>3</field>\n</compound_field>\nWARNING NO OPEN FILE: <record>\n"
                  "WARNING NO OPEN FILE: </trace>\n");
    EXPECT_TRUE(mvt_test::list_dir(dir / "missing").empty());
}

}  // namespace
