// Reads arbitrary bytes as a trace file: through mvt-trace's line reader,
// once with a small buffer and line limit and once as the tool reads,
// through the record parser, and then as every command reads a run: the
// model, its analysis, and the text, JSON, DOT, Trace Event and SVG outputs
// written to nowhere. Besides crashes and sanitizer reports it checks
// what the reader promises: the lines it hands out are the file's, split at
// its line feeds; it stops exactly at the first line over its limit; and it
// never holds more than the limit plus one read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/run_analysis.h"
#include "output/analyze_json.h"
#include "output/analyze_text.h"
#include "output/check_report.h"
#include "output/chrome_output.h"
#include "output/graph_drawing.h"
#include "output/summary_text.h"
#include "output/timeline_output.h"
#include "reading/line_reader.h"
#include "reading/record_parser.h"

namespace {

using mvt_trace::line_reader;

// line_reader opens files by name, so every input goes through a scratch
// file, rewritten in place.
int scratch_fd(std::string& path) {
    static std::string name;
    static const int fd = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/mvt_trace_fuzz_XXXXXX";
        const int made = mkstemp(pattern.data());
        if (made < 0) std::abort();
        name = pattern;
        std::atexit([] { unlink(name.c_str()); });
        return made;
    }();
    path = name;
    return fd;
}

void check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "trace_reader_fuzzer: %s\n", what);
    std::abort();
}

std::vector<std::string_view> split_lines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const std::size_t feed = bytes.find('\n');
        lines.push_back(bytes.substr(0, feed));
        bytes.remove_prefix(feed == std::string_view::npos ? bytes.size() : feed + 1);
    }
    return lines;
}

// Reads the file with `reader` and compares every line with the reference.
void read_and_compare(line_reader& reader, const std::string& path, const std::vector<std::string_view>& expected,
                      std::size_t read_size, std::size_t max_line, std::string_view bytes) {
    check(reader.open(path), "a regular file could not be opened");
    check(reader.file_size() == bytes.size(), "file size");
    std::string_view line;
    std::size_t count = 0;
    std::uint64_t offset = 0;
    while (reader.next(line)) {
        check(count < expected.size(), "more lines than the file has");
        check(line == expected[count], "a line differs from the file's");
        check(line.size() <= max_line, "a line over the limit was handed out");
        ++count;
        offset += line.size() + (reader.ended_with_line_feed() ? 1 : 0);
        check(reader.line_number() == count && reader.bytes_consumed() == offset, "line number or offset");
        check(reader.ended_with_line_feed() == (offset <= bytes.size() && bytes[offset - 1] == '\n'),
              "line feed flag");
        check(reader.capacity() <= read_size + max_line, "the buffer grew past its bound");
    }
    if (reader.line_too_long()) {
        check(count < expected.size() && expected[count].size() > max_line, "stopped at a line within the limit");
    } else {
        check(count == expected.size() && reader.bytes_consumed() == bytes.size(), "stopped before the end");
        check(reader.error().empty(), "a read error on a regular file");
    }
    check(reader.capacity() <= read_size + max_line, "the buffer grew past its bound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string path;
    const int fd = scratch_fd(path);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> expected = split_lines(bytes);

    // Small enough that short inputs grow the buffer and cross the limit.
    constexpr std::size_t small_read = 64, small_limit = 200;
    // The readers are kept from one input to the next, as the tool reopens
    // its readers: what a file leaves behind must not leak into the next.
    static line_reader small(small_read, small_limit);
    read_and_compare(small, path, expected, small_read, small_limit, bytes);

    // As the tool reads: every line to the parser, in order.
    static line_reader lines;
    check(lines.open(path), "a regular file could not be opened");
    mvt_trace::record_parser parser;
    std::string_view line;
    while (lines.next(line)) {
        if (!lines.ended_with_line_feed()) break;  // the reader calls this a truncated file
        const auto got = parser.feed(line, lines.line_number());
        if (got == mvt_trace::record_parser::outcome::failed) {
            check(!parser.problem().empty(), "a failure without a problem");
            break;
        }
        if (got == mvt_trace::record_parser::outcome::record_done) {
            const mvt_trace::trace_record& record = parser.record();
            const mvt_trace::record_layout& layout = mvt_trace::layout_of(record.kind);
            std::size_t text = 0;
            for (std::size_t i = 0; i < layout.field_count; ++i)
                if (layout.fields[i] == mvt_trace::field_kind::narrow_text) text += record.fields[i].text.size();
            check(text <= size, "a text field longer than the file");
        }
    }
    if (!parser.finished()) check(!parser.expectation().empty(), "no expectation for a file cut short");

    // Whatever the file holds, every output comes out of it.
    mvt_trace::run_layout layout;
    std::string error;
    if (!mvt_trace::read_run_layout({path}, layout, error)) return 0;
    const mvt_trace::run_analysis run = mvt_trace::analyze_run(layout);
    check(run.dependencies.span <= run.model.wall() || run.model.wall() == 0 || run.dependencies.executions == 0 ||
              run.dependencies.span <= run.dependencies.work,
          "a span longer than the run");
    std::ostringstream sink;
    mvt_trace::write_analysis_text(run, sink);
    mvt_trace::write_analysis_json(run, sink);
    mvt_trace::write_check_report(run.model, layout, sink);
    mvt_trace::write_summary(run.model, sink);
    mvt_trace::write_graph_dot(run, {}, sink);
    mvt_trace::write_chrome(run.model, run.labels, run.graph, sink);
    mvt_trace::write_timeline(run.model, run.labels, {}, sink);
    return 0;
}
