// The tool loaded by LLVM's libomp through OMP_TOOL_LIBRARIES. What the
// runtime delivers is its own business, so these tests check the structure
// of the trace rather than every record, and pin down the libomp 14
// behaviour that shapes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace {

using mvt_test::lines;
using trace = std::vector<lines>;         // rendered records by thread file
using words = std::vector<std::string>;  // one record's words

trace run_traced(const std::string& program) {
    const mvt_test::traced_run run({program}, {"", {"OMP_TOOL_LIBRARIES=" MVT_LIB_PATH, "OMP_TOOL=enabled"},
                                               {"OMP_NUM_THREADS", "OMP_TOOL_VERBOSE_INIT"}, 120});
    EXPECT_EQ(run.child.out.find("Could not register"), std::string::npos) << run.child.out;
    // The initial thread starts the tool: its file opens with the domain, the
    // handles and the graph.
    const lines first = run.file(0);
    EXPECT_TRUE(first.size() > 12 && first[0] == "domain_createA @openmp 6 openmp" &&
                first[12] == "task_group @openmp {19,0,0} {0,0,0} @graph");
    return run.files;
}

// Records of every file with this name and `value` as word `at`.
std::vector<words> find(const trace& t, const std::string& name, size_t at, const std::string& value) {
    std::vector<words> out;
    for (const lines& file : t) {
        for (const std::string& record : file) {
            std::istringstream in(record);
            const words w{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
            if (w[0] == name && w.size() > at && w[at] == value) out.push_back(w);
        }
    }
    return out;
}

std::string tag_of(const std::string& id) { return id.substr(id.find(',') + 1, id.rfind(',') - id.find(',') - 1); }

// libomp delivers the last region's implicit-task ends, and the initial
// task's end, during its own exit-time shutdown; the trace ends after them,
// so every execution begun is ended in every file. The primary file ends one
// execution more than it begins: the initial task's, whose begin the
// translation does not trace but whose end it does, like every implicit end.
void expect_executions_balanced(const trace& t) {
    ASSERT_GE(t.size(), 2u);
    for (size_t file = 0; file < t.size(); ++file) {
        int begins = 0, ends = 0;
        for (const std::string& record : t[file]) {
            begins += record.rfind("task_begin ", 0) == 0;
            ends += record.rfind("task_end ", 0) == 0;
        }
        const int initial_task = file == 0 ? 1 : 0;
        EXPECT_EQ(begins + initial_task, ends) << "file " << file;
        if (begins > 0) {
            EXPECT_EQ(t[file].back(), "task_end @openmp") << "file " << file;
        }
    }
    EXPECT_GT(std::count_if(t.begin() + 1, t.end(), [](const lines& file) { return !file.empty(); }), 0);
}

class ompt_libomp : public ::testing::Test {
    void SetUp() override {
#ifdef MVT_UNDER_TSAN
        // libomp is not built with ThreadSanitizer, which would report races
        // inside the runtime on every run.
        GTEST_SKIP() << "libomp is not instrumented for ThreadSanitizer";
#endif
    }
};

TEST_F(ompt_libomp, each_parallel_region_is_one_composite_node_of_the_graph) {
    const trace t = run_traced(OMP_REGIONS_PROGRAM);
    std::set<std::string> regions;
    for (const words& group : find(t, "task_group", 4, "@composite_node")) {
        EXPECT_EQ(tag_of(group[2]) + " " + group[3], "1 {19,0,0}") << group[2];
        regions.insert(group[2]);
    }
    EXPECT_EQ(regions.size(), 3u);
    // Each region is closed by one end node and carries one code address.
    std::map<std::string, int> end_nodes, addresses;
    for (const words& group : find(t, "task_group", 4, "@node")) end_nodes[group[3]] += tag_of(group[2]) == "36";
    for (const words& metadata : find(t, "metadata", 3, "@code_address")) ++addresses[metadata[2]];
    for (const std::string& region : regions) {
        EXPECT_EQ(end_nodes[region], 1) << region;
        EXPECT_EQ(addresses[region], 1) << region;
    }
    // libomp 14 reports both the explicit barrier (kind 3) and the closing
    // ones (kind 2) with the split OpenMP 5.1 kinds, none of which is the
    // plain barrier the timeline shows.
    EXPECT_TRUE(find(t, "task_begin", 4, "@omp_barrier").empty());
    EXPECT_EQ(find(t, "task_begin", 4, "@omp_implicit").size(), 6u);  // two per region
    EXPECT_EQ(find(t, "task_begin", 4, "@omp_parallel").size(), 3u);
    expect_executions_balanced(t);
}

TEST_F(ompt_libomp, tasks_and_their_dependences) {
    const trace t = run_traced(OMP_TASKS_PROGRAM);
    EXPECT_EQ(find(t, "task_begin", 4, "@omp_explicit").size(), 8u);
    // Only the four tasks with dependences become task nodes.
    std::set<std::string> task_nodes;
    for (const words& group : find(t, "task_group", 4, "@node"))
        if (tag_of(group[2]) == "1") task_nodes.insert(group[2]);
    EXPECT_EQ(task_nodes.size(), 4u);
    // One edge per dependence entry (libomp 14 reports depend(out:) as inout,
    // which leads out of the task node just like out). Tasks a and b each join
    // a producer to its consumers through one vertex.
    int out_edges = 0, in_edges = 0;
    std::set<std::string> vertices;
    for (const words& relation : find(t, "relation", 3, "7")) {
        out_edges += task_nodes.count(relation[2]) == 1;
        in_edges += task_nodes.count(relation[4]) == 1;
        vertices.insert(task_nodes.count(relation[2]) ? relation[4] : relation[2]);
    }
    EXPECT_EQ(std::to_string(out_edges) + " out, " + std::to_string(in_edges) + " in", "3 out, 3 in");
    EXPECT_EQ(vertices.size(), 2u);
    expect_executions_balanced(t);
}

}  // namespace
