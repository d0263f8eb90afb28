#include <gtest/gtest.h>

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
        {"cut \xe2\x86", "cut \\xe2\\x86"},                                // a sequence cut short
        {"\xe2\x86\x1b", "\\xe2\\x86\\x1b"},
    };
    for (const text_case& c : cases) EXPECT_EQ(printable(c.in), c.out) << c.out;
}

// A clock the test moves by hand.
struct fake_clock {
    std::uint64_t now = 5'000'000'000;
    progress_line::clock reader() {
        return [this] { return now; };
    }
};

TEST(tool_terminal_output, progress_line_text_says_how_far_how_fast_and_how_long) {
    EXPECT_EQ(progress_line::text(1'200'000'000, 4'000'000'000, 410'000'000), "reading 1.2 GB of 4.0 GB, 410 MB/s, 7 s left");
    EXPECT_EQ(progress_line::text(0, 300'000'000, 0), "reading 0 B of 300 MB");
    EXPECT_EQ(progress_line::text(1'000'000, 1'000'000'000'000, 1'000'000), "reading 1.0 MB of 1.0 TB, 1.0 MB/s, 278 h left");
    EXPECT_EQ(progress_line::text(900, 500, 100), "reading 900 B of 900 B, 100 B/s, 0 s left");  // the file grew
    struct size_case {
        std::uint64_t bytes;
        const char* text;
    };
    for (const size_case& c : std::vector<size_case>{{999, "999 B"}, {1000, "1.0 kB"}, {99'940, "99.9 kB"},
                                                       {99'960, "100 kB"}, {999'499, "999 kB"}, {999'960, "1.0 MB"},
                                                       {UINT64_MAX, "18.4 EB"}})
        EXPECT_EQ(progress_line::bytes_text(c.bytes), c.text) << c.bytes;
}

TEST(tool_terminal_output, progress_line_appears_for_long_work_only_and_redraws_ten_times_a_second) {
    const auto lines_in = [](const std::string& text) {
        std::size_t n = 0;
        for (char c : text) n += c == '\r';
        return n;
    };
    {
        // A small input read quickly: nothing at all.
        std::ostringstream out;
        fake_clock clock;
        progress_line progress(out, true, clock.reader());
        for (int i = 0; i < 100; ++i) {
            progress.update(static_cast<std::uint64_t>(i) * 1000, 100'000);
            clock.now += 5'000'000;  // 0.5 s in all
        }
        progress.finish();
        EXPECT_EQ(out.str(), "");
    }
    {
        // A small input that takes long: shown from the first second, then
        // at most every tenth of a second, and cleared at the end.
        std::ostringstream out;
        fake_clock clock;
        progress_line progress(out, true, clock.reader());
        for (int i = 0; i <= 300; ++i) {
            progress.update(static_cast<std::uint64_t>(i) * 1000, 300'000);
            clock.now += 10'000'000;  // 3 s in all, 100 calls a second
        }
        EXPECT_TRUE(progress.shown());
        const std::string shown = out.str();
        EXPECT_EQ(lines_in(shown), 21u);  // at 1.0 s, then every 0.1 s to 3.0 s
        EXPECT_NE(shown.find("\rreading 100 kB of 300 kB, 100 kB/s, 2 s left\x1b[K"), std::string::npos) << shown;
        progress.finish();
        EXPECT_EQ(out.str().substr(shown.size()), "\r\x1b[K");
        EXPECT_FALSE(progress.shown());
    }
    {
        // A large input is shown at once; quiet or not a terminal, never.
        std::ostringstream out, quiet;
        fake_clock clock;
        progress_line progress(out, true, clock.reader());
        progress_line silent(quiet, false, clock.reader());
        progress.update(0, 4'000'000'000);
        silent.update(0, 4'000'000'000);
        EXPECT_EQ(out.str(), "\rreading 0 B of 4.0 GB\x1b[K");
        EXPECT_EQ(quiet.str(), "");
    }
}

}  // namespace
