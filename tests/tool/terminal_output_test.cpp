#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
