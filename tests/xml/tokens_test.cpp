#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "memory_tokenizer.h"

namespace {

using token_list = std::vector<std::pair<int, std::string>>;

token_list all_tokens(memory_tokenizer& t) {
    token_list out;
    for (auto tok = t.token(); tok.first != -1; tok = t.token()) out.push_back(tok);
    return out;
}

token_list tokens_of(const std::string& input) {
    memory_tokenizer t(input);
    return all_tokens(t);
}

TEST(xml_tokens, kinds_and_values) {
    EXPECT_EQ(tokens_of("a=\"1\""), (token_list{{'n', "a"}, {'=', ""}, {'"', "1"}}));
    EXPECT_EQ(tokens_of("< name"), (token_list{{'b', ""}, {'n', "name"}}));
    EXPECT_EQ(tokens_of("<?xml v=\"1\"?>"),
              (token_list{{'x', ""}, {'n', "xml"}, {'n', "v"}, {'=', ""}, {'"', "1"}, {'X', ""}}));
    EXPECT_EQ(tokens_of("<a/></a>"), (token_list{{'b', ""}, {'n', "a"}, {'E', ""}, {'e', ""}, {'n', "a"}, {'>', ""}}));
}

TEST(xml_tokens, names_swallow_markup_characters) {
    EXPECT_EQ(tokens_of("ab<c\"d!-=x"), (token_list{{'n', "ab<c\"d!-"}, {'=', ""}, {'n', "x"}}));
    EXPECT_EQ(tokens_of("a?>"), (token_list{{'n', "a"}, {'X', ""}}));
}

TEST(xml_tokens, malformed_constructs_read_as_end) {
    for (const char* input : {"/ >", "? >", "<!DOCTYPE x>", "<!- x -->", "<!-- open", "\"open"}) {
        memory_tokenizer t(input);
        EXPECT_EQ(t.token().first, -1) << input;
    }
}

TEST(xml_tokens, backslash_protects_quote_and_stays) {
    EXPECT_EQ(tokens_of(R"("x\"y")"), (token_list{{'"', R"(x\"y)"}}));
    EXPECT_EQ(tokens_of(R"("a\\"b" c)"), (token_list{{'"', R"(a\\"b)"}, {'n', "c"}}));
}

TEST(xml_tokens, long_names_and_strings_are_cut_silently) {
    testing::internal::CaptureStdout();
    memory_tokenizer t(std::string(2000, 'n') + " next \"" + std::string(50, 's') + "\" after");
    EXPECT_EQ(t.token(), std::make_pair(int('n'), std::string(1023, 'n')));
    EXPECT_EQ(t.token(), std::make_pair(int('n'), std::string("next")));
    EXPECT_EQ(t.token(10), std::make_pair(int('"'), std::string(9, 's')));
    EXPECT_EQ(t.token(), std::make_pair(int('n'), std::string("after")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(xml_tokens, null_buffer_takes_a_name_or_string_without_writing) {
    memory_tokenizer t("name \"str\" =");
    EXPECT_EQ(t.next_token(nullptr, 0), 'n');
    EXPECT_EQ(t.next_token(nullptr, 0), '"');
    EXPECT_EQ(t.next_token(nullptr, 0), '=');
}

TEST(xml_tokens, high_bytes_separate_and_byte_255_ends) {
    EXPECT_EQ(tokens_of("a\x80\xfe" "b\x7f" "c"), (token_list{{'n', "a"}, {'n', "b"}, {'n', "c"}}));
    EXPECT_EQ(tokens_of("a \xff b"), (token_list{{'n', "a"}}));
}

}  // namespace
