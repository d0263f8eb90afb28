// The writer on its own: exact lines for every field kind, and the standard
// error fallback when its file cannot be opened.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "files.h"
#include "trace_reader.h"
#include "writer/record_catalogue.h"
#include "writer/trace_writer.h"

namespace {

using mvt_test::read_lines;
using mvt_test::temp_dir;
using lines = std::vector<std::string>;

lines body_of(const std::string& path) {
    lines all = read_lines(path);
    return lines(all.begin() + 2, all.end());
}

// Sends file descriptor 2 to a file for the lifetime of the object.
class stderr_capture {
public:
    explicit stderr_capture(const std::string& path) : saved_(dup(2)), path_(path) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
    }
    ~stderr_capture() { restore(); }
    std::string restore() {
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
        return mvt_test::read_file(path_);
    }

private:
    int saved_;
    std::string path_;
};

TEST(TraceWriter, OpensItsNumberedFileWithTheHeaderAndClosesWithTrace) {
    temp_dir dir;
    delete new writer::trace_writer(12, dir.path());
    EXPECT_EQ(read_lines(dir / "_mvt.12"),
              (lines{"<?xml version=\"1.0\"?>", mvt_test::expected_trace_header_line(), "</trace>"}));
}

TEST(TraceWriter, EncodesEveryFieldKindOnWholeLines) {
    temp_dir dir;
    {
        writer::trace_writer w(0, dir.path());
        w.begin_record();
        w.write<int>(-1);
        w.write<int>(INT_MIN);
        w.write<unsigned long long>(18446744073709551615ULL);
        w.write<unsigned long long>(0);
        w.write_strA("a<b&c\"d", 0);
        w.write_strA("two\nlines", 3);
        w.write_strA("", 0);
        w.write_id(1, 2, 3);
        unsigned long long wide = 5;
        w.write_bytes(8, &wide);
        w.end_record();
    }
    EXPECT_EQ(body_of(dir / "_mvt.0"),
              (lines{"<record>", "<field>-1</field>", "<field>-2147483648</field>",
                     "<field>18446744073709551615</field>", "<field>0</field>", "<field>a<b&c\"d</field>",
                     "<field>two", "lines</field>", "<field></field>", "<compound_field>", "<field>1</field>",
                     "<field>2</field>", "<field>3</field>", "</compound_field>", "<field>5</field>", "</record>",
                     "</trace>"}));
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
    temp_dir dir;
    {
        writer::trace_writer w(0, dir.path());
        w.write_bytes(4, at_edge);
        w.write_bytes(4, nullptr);
        w.write_bytes(3, at_edge);
    }
    munmap(pages, 2 * page);
    EXPECT_EQ(body_of(dir / "_mvt.0"), (lines{"<field>7</field>", "<field>0</field>", "<field>0</field>", "</trace>"}));
}

TEST(TraceWriter, WriteBeginRecordOpensANamedTimestampedRecord) {
    temp_dir dir;
    {
        writer::trace_writer w(0, dir.path());
        writer::write_begin_record(&w, __itt_record_task_end);
        w.end_record();
        writer::write_begin_record(&w, static_cast<__itt_record_t>(18));
        writer::write_begin_record(nullptr, __itt_record_task_end);
    }
    lines body = body_of(dir / "_mvt.0");
    ASSERT_EQ(body.size(), 5u);
    EXPECT_EQ(body[1], "<field>task_end</field>");
    EXPECT_EQ(body[2].size(), std::string("<field>").size() + 19 + std::string("</field>").size());
    EXPECT_EQ(body[3], "</record>");
}

TEST(TraceWriter, UnopenedWriterReportsEachCallOnStandardError) {
    temp_dir dir;
    stderr_capture capture(dir / "stderr");
    {
        writer::trace_writer w(0, dir / "missing");
        EXPECT_FALSE(w.is_open());
        w.write_id(1, 2, 3);
        mkdir((dir / "missing").c_str(), 0755);
        w.begin_record();  // the directory exists now, yet the file is never opened later
    }
    std::string err = capture.restore();
    EXPECT_EQ(err, "WARNING NO OPEN FILE: <?xml version=\"1.0\"?>\n" + mvt_test::expected_trace_header_line() +
                       "\nWARNING NO OPEN FILE: <compound_field>\n<field>1</field>\n<field>2</field>\n"
                       "<field>3</field>\n</compound_field>\nWARNING NO OPEN FILE: <record>\n"
                       "WARNING NO OPEN FILE: </trace>\n");
    EXPECT_TRUE(mvt_test::list_dir(dir / "missing").empty());
}

TEST(RecordCatalogue, SizesFollowTheFieldKindsOfEachRow) {
    // Every row but "definition" and "relation" sizes its record as a 9-byte
    // frame plus its fields; a mistyped code or size breaks the sum.
    for (int row = 0; row < __itt_record_count; ++row) {
        const writer::record_description& d = writer::record_descriptions[row];
        unsigned long long size = 9;
        for (int code : d.field_types) size += code == 3 ? 8 : code == 2 ? 24 : code == 9 ? 1 : 0;
        std::string name = d.name;
        if (name == "definition" || name == "relation") continue;
        EXPECT_EQ(d.size, size) << name;
    }
    EXPECT_STREQ(writer::record_descriptions[__itt_record_relation].name, "relation");
    EXPECT_EQ(writer::record_descriptions[__itt_record_relation].size, 67u);
    EXPECT_EQ(writer::record_descriptions[__itt_record_definition].size, 12u);
    EXPECT_STREQ(writer::record_descriptions[__itt_record_end_of_records].name, "end_of_records");
}

}  // namespace
