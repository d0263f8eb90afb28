#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "common/progress_line.h"
#include "common/terminal_text.h"

namespace {

using namespace mvt_trace;

TEST(tool_terminal_output, printable_escapes_what_a_terminal_would_obey) {
    struct text_case {
        std::string in, out;
    };
    const std::vector<text_case> cases = {
        {"plain name <a&b>", "plain name <a&b>"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},                       // OSC: retitles the window
        {"a\x1b[2Jb", "a\\x1b[2Jb"},                                      // CSI: clears the screen
        {"tab\tline\nfeed\r", "tab\\x09line\\x0afeed\\x0d"},
        {"del\x7f", "del\\x7f"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x99\x82", "caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x99\x82"},  // é → 🙂
        {"\xc2\x9b" "31m", "\\xc2\\x9b31m"},                               // C1 CSI, as UTF-8
        {"\x9b" "31m", "\\x9b31m"},                                        // C1 CSI, as a raw byte
        {"\xc0\xaf \xe0\x80\xaf", "\\xc0\\xaf \\xe0\\x80\\xaf"},           // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},                               // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},                      // past U+10FFFF
        {"\xf8\x88\x80", "\\xf8\\x88\\x80"},                               // no lead byte at all
        {"cut \xe2\x86", "cut \\xe2\\x86"},                                // a sequence cut short
        {"\xe2\x86\x1b", "\\xe2\\x86\\x1b"},
    };
    for (const text_case& c : cases) EXPECT_EQ(printable(c.in), c.out) << c.out;
}

TEST(tool_terminal_output, progress_line_text_says_how_far_how_fast_and_how_long) {
    EXPECT_EQ(progress_line::text(1'200'000'000, 4'000'000'000, 410'000'000), "reading 1.2 GB of 4.0 GB, 410 MB/s, 7 s left");
    EXPECT_EQ(progress_line::text(0, 300'000'000, 0), "reading 0 B of 300 MB");
    EXPECT_EQ(progress_line::text(1'000'000, 1'000'000'000'000, 1'000'000), "reading 1.0 MB of 1.0 TB, 1.0 MB/s, 278 h left");
    EXPECT_EQ(progress_line::text(900, 500, 100), "reading 900 B of 900 B, 100 B/s, 0 s left");  // the file grew
    for (const auto& [bytes, text] : std::vector<std::pair<std::uint64_t, const char*>>{
             {999, "999 B"}, {1000, "1.0 kB"}, {99'940, "99.9 kB"}, {99'960, "100 kB"}, {999'499, "999 kB"},
             {999'960, "1.0 MB"}, {UINT64_MAX, "18.4 EB"}})
        EXPECT_EQ(progress_line::bytes_text(bytes), text) << bytes;
}

// On a clock the test moves by hand: `total` bytes read in `calls` calls
// `step` ns apart, on a terminal or not; what the line drew.
std::string progress_drawn(std::uint64_t total, int calls, std::uint64_t step, bool terminal, bool finish = true) {
    std::ostringstream out;
    std::uint64_t now = 5'000'000'000;
    progress_line progress(out, terminal, [&now] { return now; });
    for (int i = 0; i <= calls; ++i, now += step) progress.update(total / (calls == 0 ? 1 : calls) * i, total);
    if (finish) progress.finish();
    EXPECT_EQ(progress.shown(), !finish && !out.str().empty());
    return out.str();
}

TEST(tool_terminal_output, progress_line_appears_for_long_work_only_and_redraws_ten_times_a_second) {
    // A small input read quickly: nothing at all.
    EXPECT_EQ(progress_drawn(100'000, 100, 5'000'000, true), "");
    // A small input that takes long: shown from the first second, then at
    // most every tenth of a second (at 1.0 s, then every 0.1 s to 3.0 s),
    // and cleared at the end.
    const std::string slow = progress_drawn(300'000, 300, 10'000'000, true);
    EXPECT_EQ(std::count(slow.begin(), slow.end(), '\r'), 22) << slow;
    EXPECT_NE(slow.find("\rreading 100 kB of 300 kB, 100 kB/s, 2 s left\x1b[K"), std::string::npos) << slow;
    EXPECT_EQ(slow.substr(slow.size() - 4), "\r\x1b[K");
    // A large input is shown at once; not on a terminal, never.
    EXPECT_EQ(progress_drawn(4'000'000'000, 0, 0, true, false), "\rreading 0 B of 4.0 GB\x1b[K");
    EXPECT_EQ(progress_drawn(4'000'000'000, 0, 0, false, false), "");
}

}  // namespace
