// An instrumented runtime's static part binding the library through
// __itt_api_init (tests/programs/static_part.cpp plays the static part in a
// child process): which entries get the library's functions. A bound entry
// is the library's own function, so its calls are those entry_points_test
// checks.

#include <gtest/gtest.h>

#include <string>

#include "trace_reader.h"

namespace {

using mvt_test::lines;

// Wanted functions the library exports are bound to themselves, by name; a
// name it lacks, or a group not asked for, gets the entry's null function.
// Binding records nothing.
TEST(ApiInit, BindsWantedFunctionsByName) {
    const mvt_test::traced_run run({STATIC_PART_CLIENT, MVT_LIB_PATH, "bind"});
    std::string out;
    for (const char* name : {"__itt_domain_create", "__itt_domain_createA", "__itt_string_handle_create",
                             "__itt_string_handle_createA", "__itt_id_create", "__itt_id_destroy", "__itt_metadata_add",
                             "__itt_metadata_str_add", "__itt_metadata_str_addA", "__itt_relation_add",
                             "__itt_task_begin", "__itt_task_end", "__itt_region_begin", "__itt_region_end",
                             "__itt_api_version", "__itt_api_fini"})
        out += std::string(name) + " library\n";
    EXPECT_EQ(run.child.out, out + "__itt_pause null\n__itt_thread_set_name null\n__itt_task_group null\n");
    EXPECT_EQ(run.child.err, "");
    for (const lines& file : run.files) EXPECT_EQ(file, lines{});
}

TEST(ApiInit, LeavesAnythingButAStaticPartsOwnGlobalAlone) {
    const mvt_test::traced_run run({STATIC_PART_CLIENT, MVT_LIB_PATH, "refuse"});
    EXPECT_EQ(run.child.out, "wrong magic: untouched\nnull global: survived\nnull API list: untouched\n"
                             "next global: untouched\n");
    EXPECT_EQ(run.child.err, "");
    for (const lines& file : run.files) EXPECT_EQ(file, lines{});
}

}  // namespace
