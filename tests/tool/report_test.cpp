#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "output/report/graphviz.h"
#include "common/json_text.h"
#include "reading/recorded_run.h"
#include "output/report/report_page.h"

namespace {

using mvt_trace::json_quoted;

TEST(tool_report, json_keeps_utf8_escapes_other_bytes_and_cannot_close_a_script) {
    struct text_case {
        std::string in, out;
    };
    const std::vector<text_case> cases = {
        {"omp_parallel", "\"omp_parallel\""},
        {"a\"b\\c\nd\te", "\"a\\\"b\\\\c\\nd\\te\""},
        {"\x01\x7f", "\"\\u0001\\u007f\""},
        {"\xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80", "\"\xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80\""},  // two, three, four bytes
        {"\xff\x80", "\"\\u00ff\\u0080\""},                                                         // not UTF-8 at all
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},                                                         // overlong '/'
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},                                              // a surrogate
        {"\xe2\x82", "\"\\u00e2\\u0082\""},                                                         // cut short
        {"</script><!--", "\"<\\/script>\\u003c!--\""},
    };
    for (const text_case& c : cases) EXPECT_EQ(json_quoted(c.in), c.out) << c.in;
    EXPECT_EQ(mvt_trace::script_safe("{\"a\":\"</b><!--\"}"), "{\"a\":\"<\\/b>\\u003c!--\"}");
}

TEST(tool_report, reads_what_record_writes_and_refuses_anything_else) {
    mvt_test::temp_dir dir;
    const std::string file = dir / "mvt-record.json";
    const std::vector<std::string> command = {"./prog", "x y", "caf\xc3\xa9", "q\"\\"};
    for (const std::optional<int> status : {std::optional<int>(3), std::optional<int>()}) {
        mvt_test::write_file(file, mvt_trace::recorded_run_text(command, status, "how it ended"));
        std::optional<mvt_trace::recorded_run> run = mvt_trace::read_recorded_run(dir.path());
        ASSERT_TRUE(run);
        EXPECT_EQ(run->command, command);
        EXPECT_EQ(run->exit_status, status);
        EXPECT_EQ(run->outcome, "how it ended");
    }
    // A later version's members are passed by.
    mvt_test::write_file(file, "{\"command\": [\"a\"], \"later\": [1.5e3, {\"b\": [true, null]}]}");
    ASSERT_TRUE(mvt_trace::read_recorded_run(dir.path()));
    for (const char* bad : {"", "{", "{\"command\": []}", "{\"command\": [1]}", "[\"a\"]",
                            "{\"command\": [\"a\"] \"exit_status\": 1}"}) {
        mvt_test::write_file(file, bad);
        EXPECT_FALSE(mvt_trace::read_recorded_run(dir.path())) << bad;
    }
    mvt_test::temp_dir empty;
    EXPECT_FALSE(mvt_trace::read_recorded_run(empty.path()));
}

TEST(tool_report, command_line_quotes_only_words_a_shell_would_split) {
    EXPECT_EQ(mvt_trace::command_line({"./omp_example", "4", "--size=1k", "a/b.c"}), "./omp_example 4 --size=1k a/b.c");
    EXPECT_EQ(mvt_trace::command_line({"prog", "two words", "it's", ""}), "prog 'two words' 'it'\\''s' ''");
}

// What Graphviz refuses gives a reason instead of a drawing. (A drawing, bare
// and with the ids given, is what the report test checks of every page.)
TEST(tool_report, graphviz_says_why_it_did_not_draw) {
    if (mvt_test::run_child({"/bin/sh", "-c", "command -v dot"}, {}).exit_code != 0)
        GTEST_SKIP() << "Graphviz is not installed";
    const mvt_trace::graphviz_drawing refused = mvt_trace::draw_with_graphviz("digraph g { a -> ; }");
    EXPECT_FALSE(refused.drawn);
    EXPECT_TRUE(refused.svg.empty());
    EXPECT_EQ(refused.why.rfind("Graphviz's dot failed: ", 0), 0u) << refused.why;
}

}  // namespace
