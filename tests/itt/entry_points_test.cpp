// Every exported event function, called through dlsym() in a child process,
// and the records it leaves, compared whole.

#include <gtest/gtest.h>

#include <sstream>

#include "trace_reader.h"

namespace {

using mvt_test::lines;

TEST(IttEntryPoints, EachCallWritesItsRecordExactly) {
    const mvt_test::traced_run r({MVT_TRACE_CLIENT, MVT_LIB_PATH, "records"});
    // The addresses recorded are those of the objects handed out.
    std::istringstream printed(r.child.out);
    std::string domain, handle, rest;
    printed >> domain >> handle >> std::ws && std::getline(printed, rest);
    EXPECT_EQ(rest, "usable same Morvane Collector 0.02");
    const mvt_test::trace_file file = mvt_test::parse_trace(r.dir / "_mvt.0");
    ASSERT_GE(file.records.size(), 2u);
    EXPECT_EQ(file.records[0].fields.at(2).text, domain);
    EXPECT_EQ(file.records[1].fields.at(2).text, handle);
    EXPECT_EQ(r.file(0), (lines{"domain_createA @openmp 6 openmp", "string_handle_createA @omp_parallel 12 omp_parallel",
                                "domain_createA @openmp 6 openmp", "string_handle_createA @omp_parallel 12 omp_parallel",
                                "id_create @openmp {5,0,0}", "id_destroy @openmp {1,2,3}",
                                "metadata @openmp {5,0,0} @omp_parallel 1 1 18446744073709551615",
                                "metadata @openmp {5,0,0} @omp_parallel 3 1 7",
                                "metadata_stringA @openmp {5,0,0} @omp_parallel 0 a<b&c\nd",
                                "metadata_stringA @openmp {5,0,0} @omp_parallel 2 text",
                                "relation @openmp {1,0,0} 7 {2,0,0}",  // the code masked to 8 bits
                                "task_begin @openmp {5,0,0} {0,0,0} @omp_parallel 0", "task_end @openmp",
                                "task_group @openmp {6,0,0} {19,0,0} @omp_parallel",
                                "region_begin @openmp {7,0,0} {6,0,0} @omp_parallel", "region_end @openmp {7,0,0}",
                                "task_end 0"}));
}

// Null names are the empty name; names stay whole while their length field
// keeps the low byte of the length capped at 1000; a null value is 0, a null
// text empty; out-of-range counts and types are dropped.
TEST(IttEntryPoints, HostileArgumentsNeverCrashAndAlwaysYieldUsableObjects) {
    const mvt_test::traced_run r({MVT_TRACE_CLIENT, MVT_LIB_PATH, "hostile"});
    EXPECT_EQ(r.child.out, "usable kept\n");
    const std::string huge(1 << 20, 'x'), long_name(300, 'd');
    EXPECT_EQ(r.file(0), (lines{"domain_createA @ 0 ", "string_handle_createA @ 0 ",
                                "string_handle_createA @" + huge + " 232 " + huge, "domain_createA @ 0 ",
                                "domain_createA @" + long_name + " 44 " + long_name, "metadata @ {0,0,0} @ 1 1 0",
                                "metadata_stringA @ {0,0,0} @ 99 ", "metadata_stringA 0 {0,0,0} 0 1048576 " + huge,
                                "task_begin 0 {0,0,0} {0,0,0} 0 0", "relation 0 {0,0,0} 255 {0,0,0}"}));
}

}  // namespace
