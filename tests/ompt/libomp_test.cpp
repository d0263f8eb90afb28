// The tool loaded by LLVM's libomp through OMP_TOOL_LIBRARIES. What the
// runtime delivers is its own business, so these tests check the structure
// of the trace rather than every record, and pin down the libomp 14
// behaviour that shapes it.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "trace_records.h"

namespace {

struct traced_run {
    mvt_test::child_result child;
    mvt_test::trace trace;
};

traced_run run_traced(const std::string& program) {
    mvt_test::temp_dir dir;
    traced_run run;
    run.child = mvt_test::run_child(
        {program}, {"", {"MVA_DIR=" + dir.path(), std::string("OMP_TOOL_LIBRARIES=") + MVT_LIB_PATH, "OMP_TOOL=enabled"},
                    {"OMP_NUM_THREADS", "OMP_TOOL_VERBOSE_INIT"}, 120});
    run.trace = mvt_test::read_trace(dir.path());
    return run;
}

std::vector<std::string> words(const std::string& record) {
    std::vector<std::string> out;
    std::istringstream in(record);
    for (std::string word; in >> word;) {
        out.push_back(word);
    }
    return out;
}

// Rendered records of all files whose name and handle (the last word, or the
// word at `at`) match.
std::vector<std::vector<std::string>> find(const mvt_test::trace& trace, const std::string& name,
                                           const std::string& handle = "", size_t at = 0) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& record : trace.all_rendered()) {
        std::vector<std::string> w = words(record);
        const std::string& probe = at == 0 ? w.back() : w[at];
        if (w[0] == name && (handle.empty() || probe == handle)) {
            out.push_back(w);
        }
    }
    return out;
}

bool tag_of(const std::string& id, const std::string& tag) {
    const size_t first = id.find(','), second = id.find(',', first + 1);
    return id.substr(first + 1, second - first - 1) == tag;
}

struct balance {
    int begins = 0;
    int ends = 0;
};

balance balance_of(const mvt_test::trace& trace, size_t file) {
    balance b;
    for (const std::string& record : trace.rendered(file)) {
        b.begins += record.compare(0, 11, "task_begin ") == 0;
        b.ends += record.compare(0, 8, "task_end") == 0;
    }
    return b;
}

void expect_sound(const traced_run& run) {
    ASSERT_EQ(run.child.exit_code, 0) << run.child.out << run.child.err;
    ASSERT_EQ(run.trace.error, "");
    EXPECT_EQ(run.child.out.find("Could not register"), std::string::npos) << run.child.out;
    // The runtime's initial thread starts the tool, so the first file opens
    // with the domain, the handles and the graph.
    const std::vector<std::string> first = run.trace.rendered(0);
    ASSERT_GE(first.size(), 13u);
    EXPECT_EQ(first[0], "domain_createA @openmp 6 openmp");
    EXPECT_EQ(first[12], "task_group @openmp {19,0,0} {0,0,0} @graph");
}

class ompt_libomp : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef MVT_OMPT_UNDER_TSAN
        // libomp is not built with ThreadSanitizer; its own synchronisation is
        // invisible to it and every run would report races inside the runtime.
        GTEST_SKIP() << "libomp is not instrumented for ThreadSanitizer";
#endif
    }
};

TEST_F(ompt_libomp, each_parallel_region_is_one_composite_node_of_the_graph) {
    const traced_run run = run_traced(OMP_REGIONS_PROGRAM);
    expect_sound(run);
    const auto composites = find(run.trace, "task_group", "@composite_node");
    ASSERT_EQ(composites.size(), 3u);
    std::set<std::string> regions;
    for (const auto& group : composites) {
        EXPECT_TRUE(tag_of(group[2], "1")) << group[2];
        EXPECT_EQ(group[3], "{19,0,0}");
        regions.insert(group[2]);
    }
    EXPECT_EQ(regions.size(), 3u);
    // Each region is closed by its end node and carries the code address given
    // at its end.
    const auto end_nodes = find(run.trace, "task_group", "@node");
    std::map<std::string, int> ends_per_region;
    for (const auto& group : end_nodes) {
        if (tag_of(group[2], "36")) {
            ++ends_per_region[group[3]];
        }
    }
    const auto addresses = find(run.trace, "metadata", "@code_address", 3);
    for (const std::string& region : regions) {
        EXPECT_EQ(ends_per_region[region], 1) << region;
        int tagged = 0;
        for (const auto& metadata : addresses) {
            tagged += metadata[2] == region;
        }
        EXPECT_EQ(tagged, 1) << region;
    }
    // libomp 14 reports both the explicit barrier (kind 3) and the closing
    // ones (kind 2) with the split OpenMP 5.1 kinds, none of which is the
    // plain barrier the timeline shows.
    EXPECT_TRUE(find(run.trace, "task_begin", "@omp_barrier", 4).empty());
    // Two implicit tasks per region, each an execution under the region's
    // parallel task group.
    EXPECT_EQ(find(run.trace, "task_begin", "@omp_implicit", 4).size(), 6u);
    EXPECT_EQ(find(run.trace, "task_begin", "@omp_parallel", 4).size(), 3u);
}

TEST_F(ompt_libomp, tasks_and_their_dependences) {
    const traced_run run = run_traced(OMP_TASKS_PROGRAM);
    expect_sound(run);
    EXPECT_EQ(find(run.trace, "task_begin", "@omp_explicit", 4).size(), 8u);

    // Only the four tasks with dependences become task nodes.
    std::set<std::string> task_nodes;
    for (const auto& group : find(run.trace, "task_group", "@node")) {
        if (tag_of(group[2], "1")) {
            task_nodes.insert(group[2]);
        }
    }
    EXPECT_EQ(task_nodes.size(), 4u);

    // One edge per dependence entry. libomp 14 reports depend(out:) as inout,
    // which leads out of the task node just like out.
    int out_edges = 0, in_edges = 0;
    for (const auto& relation : find(run.trace, "relation", "7", 3)) {
        out_edges += task_nodes.count(relation[2]) == 1;
        in_edges += task_nodes.count(relation[4]) == 1;
    }
    EXPECT_EQ(out_edges, 3);
    EXPECT_EQ(in_edges, 3);
    // Tasks a and b each join a producer to its consumers through one vertex.
    std::set<std::string> vertices;
    for (const auto& relation : find(run.trace, "relation", "7", 3)) {
        vertices.insert(task_nodes.count(relation[2]) ? relation[4] : relation[2]);
    }
    EXPECT_EQ(vertices.size(), 2u);
}

// The primary thread's executions pair up. Each worker's last implicit task
// stays open: libomp delivers a worker's implicit-task end only when the
// worker is next used, and for the last region that is at shutdown, after the
// trace has been closed. Earlier regions' ends do arrive, late.
void expect_runtime_balance(const traced_run& run) {
    ASSERT_GE(run.trace.files.size(), 2u);
    const balance primary = balance_of(run.trace, 0);
    EXPECT_GT(primary.begins, 0);
    EXPECT_EQ(primary.begins, primary.ends);
    for (size_t file = 1; file < run.trace.files.size(); ++file) {
        const balance worker = balance_of(run.trace, file);
        if (worker.begins + worker.ends > 0) {
            EXPECT_EQ(worker.begins, worker.ends + 1) << "file " << file;
        }
    }
}

TEST_F(ompt_libomp, executions_begin_and_end_as_the_runtime_reports_them) {
    for (const char* program : {OMP_REGIONS_PROGRAM, OMP_TASKS_PROGRAM}) {
        SCOPED_TRACE(program);
        const traced_run run = run_traced(program);
        expect_sound(run);
        expect_runtime_balance(run);
    }
}

}  // namespace
