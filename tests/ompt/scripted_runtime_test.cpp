// The tool driven by a scripted runtime: every record the tool causes is
// compared whole, in order, per thread file.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "trace_records.h"

namespace {

using mvt_test::id_text;
using lines = std::vector<std::string>;

struct scripted_run {
    mvt_test::child_result child;
    mvt_test::trace trace;
};

scripted_run run_scripted(const std::string& scenario, const std::string& arg = "") {
    mvt_test::temp_dir dir;
    scripted_run run;
    run.child = mvt_test::run_child({OMPT_SCRIPTED_RUNTIME, MVT_LIB_PATH, scenario, arg},
                                    {"", {"MVA_DIR=" + dir.path()}, {}, 60});
    run.trace = mvt_test::read_trace(dir.path());
    return run;
}

lines split_lines(const std::string& text) {
    lines out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

lines with_prefix(const std::string& text, const std::string& prefix) {
    lines out;
    for (const std::string& line : split_lines(text)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

std::string id(unsigned long long value, unsigned long long tag = 0) {
    return id_text(value, tag);
}

const std::string null_id = id_text(0, 0);

std::string id_create(const std::string& i) { return "id_create @openmp " + i; }
std::string group(const std::string& i, const std::string& parent, const std::string& name) {
    return "task_group @openmp " + i + " " + parent + " @" + name;
}
std::string begin(const std::string& i, const std::string& parent, const std::string& name) {
    return "task_begin @openmp " + i + " " + parent + " @" + name + " 0";
}
const std::string end = "task_end @openmp";
std::string relation(const std::string& head, int kind, const std::string& tail) {
    return "relation @openmp " + head + " " + std::to_string(kind) + " " + tail;
}
std::string code_address(const std::string& i, unsigned long long address) {
    return "metadata @openmp " + i + " @code_address 1 1 " + std::to_string(address);
}
constexpr int is_parent_of = 3, is_child_of = 5, is_predecessor_to = 7;

lines startup_records() {
    lines out = {"domain_createA @openmp 6 openmp"};
    for (const char* name : {"omp_parallel", "omp_barrier", "omp_implicit", "node", "omp_explicit", "graph",
                             "composite_node", "input_port_0", "output_port_0", "code_address"}) {
        out.push_back("string_handle_createA @" + std::string(name) + " " +
                      std::to_string(std::string(name).size()) + " " + name);
    }
    out.push_back(id_create(id(19)));
    out.push_back(group(id(19), null_id, "graph"));
    return out;
}

lines after_startup(const lines& records) {
    const size_t skip = startup_records().size();
    return records.size() < skip ? lines{} : lines(records.begin() + skip, records.end());
}

void expect_sound(const scripted_run& run) {
    EXPECT_EQ(run.child.exit_code, 0) << run.child.err;
    EXPECT_EQ(run.trace.error, "");
    EXPECT_EQ(with_prefix(run.child.err, "start_tool"), lines{"start_tool stable"});
    EXPECT_EQ(with_prefix(run.child.err, "initialize"), lines{"initialize returned 1"});
}

const lines registration_order = {"set_callback 7", "set_callback 11", "set_callback 3",
                                  "set_callback 4", "set_callback 5", "set_callback 6",
                                  "set_callback 18", "set_callback 1", "set_callback 23"};

TEST(ompt_startup, creates_handles_looks_up_entry_points_and_registers_callbacks_in_order) {
    const scripted_run run = run_scripted("register", "5");
    expect_sound(run);
    EXPECT_EQ(run.child.out, "");
    EXPECT_EQ(with_prefix(run.child.err, "lookup"),
              (lines{"lookup ompt_set_callback", "lookup ompt_get_task_info", "lookup ompt_get_unique_id",
                     "lookup ompt_get_thread_data", "lookup ompt_get_parallel_info"}));
    EXPECT_EQ(with_prefix(run.child.err, "set_callback"), registration_order);
    // Thread begin and control tool write nothing; start-up is all there is.
    EXPECT_EQ(run.trace.rendered(0), startup_records());
    EXPECT_EQ(with_prefix(run.child.err, "slot"), lines{"slot thread 101"});
    EXPECT_EQ(with_prefix(run.child.err, "control_tool"), lines{"control_tool returned 0"});
    for (size_t file = 1; file < run.trace.files.size(); ++file) {
        EXPECT_EQ(run.trace.rendered(file), lines{}) << "file " << file;
    }
}

TEST(ompt_startup, tells_about_each_callback_the_runtime_will_never_deliver) {
    const scripted_run never = run_scripted("register", "1");
    expect_sound(never);
    EXPECT_EQ(split_lines(never.child.out),
              (lines{"0: Could not register callback 'ompt_callback_implicit_task'",
                     "0: Could not register callback 'ompt_callback_control_tool'",
                     "0: Could not register callback 'ompt_callback_parallel_begin'",
                     "0: Could not register callback 'ompt_callback_parallel_end'",
                     "0: Could not register callback 'ompt_callback_task_create'",
                     "0: Could not register callback 'ompt_callback_task_schedule'",
                     "0: Could not register callback 'ompt_callback_dependences'",
                     "0: Could not register callback 'ompt_callback_thread_begin'",
                     "0: Could not register callback 'ompt_callback_sync_region'"}));
    EXPECT_EQ(with_prefix(never.child.err, "set_callback"), registration_order);

    // Errors and partial support are not reported; only "never" is.
    const scripted_run mixed = run_scripted("register", "0,1,2,3,4,5,1,0,1");
    expect_sound(mixed);
    EXPECT_EQ(split_lines(mixed.child.out),
              (lines{"0: Could not register callback 'ompt_callback_control_tool'",
                     "0: Could not register callback 'ompt_callback_dependences'",
                     "0: Could not register callback 'ompt_callback_sync_region'"}));
    EXPECT_EQ(run_scripted("register", "0").child.out, "");
}

// One region on threads A and B; an explicit task with an out dependence on
// x is created on A and run on B; both reach the closing barrier. Ids are
// drawn in this order: thread A 101, initial task 102, region 103, begin node
// 104, input port 105, implicit A 106, thread B 107, implicit B 108, task 109,
// end node 110, output port 111.
TEST(ompt_translation, worked_example_on_two_threads) {
    const scripted_run run = run_scripted("worked_example");
    expect_sound(run);
    const unsigned long long e0 = 102, p = 103, n = 104, i = 105, x0 = 106, x1 = 108, t = 109, m = 110, o = 111;
    const unsigned long long x = 0x7000;

    lines a = startup_records();
    const lines a_events = {
        // parallel begin
        relation(id(e0), is_parent_of, id(p, 1)), id_create(id(p, 1)), group(id(p, 1), id(19), "composite_node"),
        group(id(n), id(p, 1), "node"), id_create(id(i)), group(id(i), id(n), "input_port_0"),
        group(id(n, 35), id(n), "output_port_0"), group(id(i), id(p, 1), "input_port_0"),
        relation(id(p, 1), is_parent_of, id(i)), id_create(id(p)), group(id(p), null_id, "omp_parallel"),
        begin(id(p), null_id, "omp_parallel"),
        // implicit task begin
        id_create(id(x0)), group(id(x0), id(p), "omp_implicit"), begin(id(x0), id(p), "omp_implicit"),
        // task create with dependences, then its dependence
        id_create(id(t)), id_create(id(x0)), relation(id(t), is_child_of, id(x0)), id_create(id(t, 1)),
        group(id(t, 1), id(x0), "node"), code_address(id(t), 0xc1),
        relation(id(t, 1), is_predecessor_to, id(x)),
        // barrier begin and end, implicit task end
        end, begin(id(x0), id(p), "omp_barrier"), end, end,
        // parallel end
        code_address(id(p, 1), 0xc2), group(id(m, 36), id(p, 1), "node"), group(id(o), id(m, 36), "output_port_0"),
        group(id(m, 37), id(m, 36), "input_port_0"), group(id(o), id(p, 1), "output_port_0"),
        relation(id(p, 1), is_parent_of, id(o)), end};
    a.insert(a.end(), a_events.begin(), a_events.end());
    EXPECT_EQ(run.trace.rendered(0), a);

    EXPECT_EQ(run.trace.rendered(1),
              (lines{id_create(id(x1)), group(id(x1), id(p), "omp_implicit"), begin(id(x1), id(p), "omp_implicit"),
                     begin(id(t), null_id, "omp_explicit"), end, end, begin(id(x1), id(p), "omp_barrier"), end,
                     end}));
    EXPECT_EQ(with_prefix(run.child.err, "slot"),
              (lines{"slot value 101", "slot value 102", "slot value 103", "slot value 106", "slot value 107",
                     "slot value 108", "slot value 109"}));
}

struct version_case {
    const char* label;
    const char* runtime_version;
    bool old;
};

void PrintTo(const version_case& c, std::ostream* os) {
    *os << '"' << c.runtime_version << '"';
}

class ompt_task_schedule : public ::testing::TestWithParam<version_case> {};

// Status 4 begins the next task only for runtimes older than OpenMP 5.0
// final; a switch always begins it, a completion always ends, others nothing.
TEST_P(ompt_task_schedule, status_four_depends_on_the_runtime_version) {
    const scripted_run run = run_scripted("schedule", GetParam().runtime_version);
    expect_sound(run);
    lines expected;
    if (GetParam().old) {
        expected.push_back(begin(id(504), null_id, "omp_explicit"));
    }
    expected.push_back(begin(id(507), null_id, "omp_explicit"));
    expected.push_back(end);
    EXPECT_EQ(after_startup(run.trace.rendered(0)), expected);
}

INSTANTIATE_TEST_SUITE_P(versions, ompt_task_schedule,
                         ::testing::Values(version_case{"point_2018_at_start", ".2018 at the start", true},
                                           version_case{"point_2018_inside", "runtime 5.0.20181109 build", true},
                                           version_case{"point_2018_at_end", "ends with .2018", true},
                                           version_case{"llvm_14", "LLVM OMP version: 5.0.20140926", false},
                                           version_case{"2018_without_point", "year 2018 without the point", false},
                                           version_case{"point_201_at_end", "ends with .201", false},
                                           version_case{"shorter_than_five", ".201", false},
                                           version_case{"empty", "", false}),
                         [](const ::testing::TestParamInfo<version_case>& info) { return info.param.label; });

TEST(ompt_translation, implicit_tasks) {
    const scripted_run run = run_scripted("events", "implicit");
    expect_sound(run);
    // The initial task only gets its id (101); its end still ends. The region
    // is the one the runtime reports (777), the argument (555) only when the
    // runtime reports none. An endpoint other than begin or end does nothing.
    EXPECT_EQ(after_startup(run.trace.rendered(0)),
              (lines{end, id_create(id(102)), group(id(102), id(555), "omp_implicit"),
                     begin(id(102), id(555), "omp_implicit"), id_create(id(103)),
                     group(id(103), id(777), "omp_implicit"), begin(id(103), id(777), "omp_implicit")}));
    EXPECT_EQ(with_prefix(run.child.err, "slot"), lines{"slot initial 101"});
}

TEST(ompt_translation, task_creation) {
    const scripted_run run = run_scripted("events", "create");
    expect_sound(run);
    // Only an explicit task with dependences is traced at creation. An initial
    // task names the runtime's innermost region (105) when there is one.
    const unsigned long long t = 106, encountering = 42;
    EXPECT_EQ(after_startup(run.trace.rendered(0)),
              (lines{id_create(id(t)), id_create(id(encountering)), relation(id(t), is_child_of, id(encountering)),
                     id_create(id(t, 1)), group(id(t, 1), id(encountering), "node"), code_address(id(t), 0xd4)}));
    EXPECT_EQ(with_prefix(run.child.err, "slot"),
              (lines{"slot value 101", "slot value 102", "slot value 104", "slot value 105", "slot value 106"}));
}

TEST(ompt_translation, dependences_become_edges_in_array_order) {
    const scripted_run run = run_scripted("events", "dependences");
    expect_sound(run);
    // in and source lead into the task node; out, inout and sink lead out of
    // it; mutexinoutset gives no edge; empty and negative counts give none.
    const std::string node = id(900, 1);
    EXPECT_EQ(after_startup(run.trace.rendered(0)),
              (lines{relation(id(0xa1), is_predecessor_to, node), relation(node, is_predecessor_to, id(0xa2)),
                     relation(node, is_predecessor_to, id(0xa3)), relation(id(0xa5), is_predecessor_to, node),
                     relation(node, is_predecessor_to, id(0xa6))}));
}

TEST(ompt_translation, only_plain_barriers_are_traced) {
    const scripted_run run = run_scripted("events", "sync");
    expect_sound(run);
    EXPECT_EQ(after_startup(run.trace.rendered(0)), (lines{end, begin(id(601), id(600), "omp_barrier"), end}));
}

}  // namespace
