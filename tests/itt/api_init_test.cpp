// An instrumented runtime's static part binding the library through
// __itt_api_init (tests/programs/static_part.cpp plays the static part in a
// child process): which entries get the library's functions, and that the
// calls made through them reach the trace like any others.

#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "files.h"
#include "trace_reader.h"

namespace {

using mvt_test::lines;

struct static_part_run {
    mvt_test::child_result child;
    std::vector<lines> files;
};

static_part_run run_static_part(const std::string& mode) {
    mvt_test::temp_dir dir;
    const mvt_test::child_options options{"", {"MVA_DIR=" + dir.path()}, {}, 60};
    static_part_run run{mvt_test::run_child({STATIC_PART_CLIENT, MVT_LIB_PATH, mode}, options), {}};
    EXPECT_EQ(run.child.exit_code, 0) << run.child.err;
    EXPECT_EQ(run.child.err, "");
    run.files = mvt_test::read_rendered(dir.path());
    return run;
}

// Wanted functions the library exports are bound to themselves, by name; a
// name it lacks, or a group not asked for, gets the entry's null function.
TEST(ApiInit, BindsWantedFunctionsByNameAndTheirCallsAreTraced) {
    const static_part_run run = run_static_part("bind");
    std::string out;
    for (const char* name : {"__itt_domain_create", "__itt_domain_createA", "__itt_string_handle_create",
                             "__itt_string_handle_createA", "__itt_id_create", "__itt_id_destroy", "__itt_metadata_add",
                             "__itt_metadata_str_add", "__itt_metadata_str_addA", "__itt_relation_add",
                             "__itt_task_begin", "__itt_task_end", "__itt_region_begin", "__itt_region_end",
                             "__itt_api_version", "__itt_api_fini"})
        out += std::string(name) + " library\n";
    out += "__itt_pause null\n__itt_thread_set_name null\n__itt_task_group null\n";
    EXPECT_EQ(run.child.out, out);
    ASSERT_FALSE(run.files.empty());
    EXPECT_EQ(run.files[0], (lines{"domain_createA @static_part 11 static_part", "string_handle_createA @work 4 work",
                                   "id_create @static_part {1,0,0}", "task_begin @static_part {1,0,0} {0,0,0} @work 0",
                                   "metadata_stringA @static_part {1,0,0} @work 4 text",
                                   "relation @static_part {1,0,0} 7 {2,0,0}", "task_end @static_part"}));
    for (size_t k = 1; k < run.files.size(); ++k) EXPECT_EQ(run.files[k], lines{}) << k;
}

TEST(ApiInit, LeavesAnythingButAStaticPartsOwnGlobalAlone) {
    const static_part_run run = run_static_part("refuse");
    EXPECT_EQ(run.child.out, "wrong magic: untouched\nnull global: survived\nnull API list: untouched\n"
                             "next global: untouched\n");
    for (const lines& file : run.files) EXPECT_EQ(file, lines{});
}

}  // namespace
