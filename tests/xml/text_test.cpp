#include <gtest/gtest.h>

#include <string>

#include "memory_tokenizer.h"

namespace {

// Reads "<a>" and returns the tokenizer positioned for the text after it.
struct text_reader {
    explicit text_reader(const std::string& input) : t("<a>" + input) {
        for (int i = 0; i < 3; ++i) t.token();
    }
    std::string text(int size = 1024) {
        std::string buf(static_cast<std::size_t>(size), '#');
        const int n = t.get_text(buf.data(), size);
        EXPECT_EQ(static_cast<std::size_t>(n), std::string(buf.c_str()).size());
        return buf.c_str();
    }
    memory_tokenizer t;
};

TEST(xml_text, stops_before_the_matching_end_tag) {
    for (auto [input, expected] : {std::pair{"abc</a>", "abc"}, {"x <b>y</b> z</a>", "x <b>y</b> z"},
                                   {"p<br/>q</a>", "p<br/>q"}, {"<i>k</i></a>", "<i>k</i>"},
                                   {" lead \n trail </a>", " lead \n trail "}, {"</a>", ""}, {"\xe9\xfe</a>", "\xe9\xfe"}}) {
        text_reader r(input);
        EXPECT_EQ(r.text(), expected);
        EXPECT_EQ(r.t.window_at(1), '<');
        EXPECT_EQ(r.t.window_at(2), '/');
        EXPECT_EQ(r.t.token().first, 'e') << input;
    }
}

TEST(xml_text, end_of_input_ends_text) {
    EXPECT_EQ(text_reader("").text(), "");
    EXPECT_EQ(text_reader("tail").text(), "tail");
}

TEST(xml_text, truncation_warns_once_and_consumes_everything) {
    testing::internal::CaptureStdout();
    text_reader r("abcdefghijklmnopqrst</a>");
    EXPECT_EQ(r.text(10), "abcdefgh");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: buffer too small for data, truncating\n");
    EXPECT_EQ(r.t.token().first, 'e');
}

TEST(xml_text, capture_string_warns_per_dropped_character) {
    memory_tokenizer t("\"abcdef\" next");
    t.next_char();
    char buf[4];
    testing::internal::CaptureStdout();
    EXPECT_EQ(t.capture_string(buf, sizeof buf), 3);
    const std::string line = "WARNING: buffer 4 is too small for string, truncating\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line + line);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(t.token(), std::make_pair(int('n'), std::string("next")));
}

TEST(xml_text, look_ahead_skips_space_without_consuming) {
    memory_tokenizer t("> \t\n <");
    EXPECT_EQ(t.token().first, '>');
    EXPECT_EQ(t.look_ahead(), '<');
    EXPECT_EQ(t.window_at(0), '>');
    EXPECT_EQ(t.next_char(), '<');
}

TEST(xml_comments, skipped_whole_up_to_the_first_closing_run) {
    for (const char* input : {"<!-- a -- b -->n", "<!-->-->n", "<!-- x --->n", "<!---->n", "<!--<a>\"-->n"}) {
        memory_tokenizer t(input);
        EXPECT_EQ(t.token().first, 'c') << input;
        EXPECT_EQ(t.window_at(0), '>');
        EXPECT_EQ(t.token(), std::make_pair(int('n'), std::string("n"))) << input;
    }
}

TEST(xml_comments, opening_dashes_never_close) {
    memory_tokenizer t("<!--> still inside");
    EXPECT_EQ(t.token().first, -1);
}

}  // namespace
