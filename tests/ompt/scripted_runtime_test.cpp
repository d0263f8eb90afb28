// The tool driven by a scripted runtime (scripted_runtime.cpp): every record
// the tool causes is compared whole, in order, per thread file. The runtime
// hands out ids from 101 on, in call order.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace {

using mvt_test::lines;

const char* const llvm_14 = "LLVM OMP version: 5.0.20140926";

mvt_test::traced_run run_script(const lines& script, const std::string& version = llvm_14,
                                const std::string& answers = "5") {
    lines argv = {OMPT_SCRIPTED_RUNTIME, MVT_LIB_PATH, version, answers};
    argv.insert(argv.end(), script.begin(), script.end());
    return mvt_test::traced_run(argv, {"", {}, {}, 60});
}

// Records of the files from `first` on, of threads that should write nothing.
lines files_from(const mvt_test::traced_run& run, size_t first) {
    lines out;
    for (size_t k = first; k < run.files.size(); ++k) out.insert(out.end(), run.files[k].begin(), run.files[k].end());
    return out;
}

lines with_prefix(const std::string& text, const std::string& prefix) {
    lines out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}

std::string id(unsigned long long value, unsigned long long tag = 0) { return mvt_test::id_text(value, tag); }
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

const lines startup = [] {
    lines out = {"domain_createA @openmp 6 openmp"};
    for (const std::string name : {"omp_parallel", "omp_barrier", "omp_implicit", "node", "omp_explicit", "graph",
                                   "composite_node", "input_port_0", "output_port_0", "code_address"})
        out.push_back("string_handle_createA @" + name + " " + std::to_string(name.size()) + " " + name);
    out.insert(out.end(), {id_create(id(19)), group(id(19), id(0), "graph")});
    return out;
}();

lines with(lines script, const std::string& command) {
    script.push_back(command);
    return script;
}

lines after_startup(const lines& records) {
    lines out = startup;
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

// Start-up looks the entry points up and registers the callbacks in a fixed
// order. Only the answer "never" (1) is told, one line per callback; start-up
// goes on whatever the answers. Thread begin, control tool and finalize write
// nothing.
const char* const events[] = {"implicit_task", "control_tool", "parallel_begin", "parallel_end", "task_create",
                              "task_schedule", "dependences",  "thread_begin",   "sync_region"};

TEST(ompt_startup, handshake_registrations_and_callbacks_never_delivered) {
    const int numbers[] = {7, 11, 3, 4, 5, 6, 18, 1, 23};
    for (const std::string answers : {"5", "0,1,2,3,4,5,1,0,1"}) {
        SCOPED_TRACE(answers);
        const mvt_test::traced_run run = run_script({"thread_begin t", "control_tool"}, llvm_14, answers);
        lines err = {"start_tool stable", "lookup ompt_set_callback", "lookup ompt_get_task_info",
                     "lookup ompt_get_unique_id", "lookup ompt_get_thread_data", "lookup ompt_get_parallel_info"};
        std::string out;
        for (size_t k = 0; k < 9; ++k) {
            err.push_back("set_callback " + std::to_string(numbers[k]));
            if (answers[2 * k % (answers.size() + 1)] == '1')  // answers are used round robin
                out += "0: Could not register callback 'ompt_callback_" + std::string(events[k]) + "'\n";
        }
        err.insert(err.end(), {"initialize returned 1", "control_tool returned 0", "slot t 101"});
        EXPECT_EQ(with_prefix(run.child.err, ""), err);
        EXPECT_EQ(run.child.out, out);
        EXPECT_EQ(run.file(0), startup);
        EXPECT_EQ(files_from(run, 1), lines{});
    }
}

// A runtime without the entry points the callbacks need, and without a version
// string: the tool registers nothing, says so for every callback, and still
// writes its start-up records.
TEST(ompt_startup, without_entry_points_nothing_is_registered) {
    for (const std::string lookup : {"no_lookup", "find_set_callback_only"}) {
        SCOPED_TRACE(lookup);
        const mvt_test::traced_run run = run_script({}, "-", lookup);
        std::string out;
        for (const char* event : events) out += "0: Could not register callback 'ompt_callback_" + std::string(event) + "'\n";
        EXPECT_EQ(run.child.out, out);
        EXPECT_EQ(with_prefix(run.child.err, "set_callback"), lines{});
        EXPECT_EQ(with_prefix(run.child.err, "initialize"), lines{"initialize returned 1"});
        EXPECT_EQ(run.file(0), startup);
    }
}

// One region on threads A and B; an explicit task with an out dependence on x
// is created on A and run on B; both reach the closing barrier.
TEST(ompt_translation, worked_example_on_two_threads) {
    const mvt_test::traced_run run = run_script({
        "thread_begin ta", "implicit_task begin - e0 initial", "parallel_begin e0 p 0xb0", "region p",
        "implicit_task begin p x0 implicit", "task_create x0 t explicit 1 0xc1", "dependences t 1 0x7000 out",
        "B{", "thread_begin tb", "implicit_task begin p x1 implicit", "task_schedule x1 switch t",
        "task_schedule t complete x1", "sync_region barrier begin p x1", "sync_region barrier end p x1",
        "implicit_task end - x1 implicit", "}",
        "sync_region barrier begin p x0", "sync_region barrier end p x0", "implicit_task end - x0 implicit",
        "parallel_end p e0 0xc2"});
    const unsigned long long e0 = 102, p = 103, n = 104, i = 105, x0 = 106, t = 107, x1 = 109, m = 110, o = 111;

    EXPECT_EQ(run.file(0), after_startup({
        // parallel begin
        relation(id(e0), is_parent_of, id(p, 1)), id_create(id(p, 1)), group(id(p, 1), id(19), "composite_node"),
        group(id(n), id(p, 1), "node"), id_create(id(i)), group(id(i), id(n), "input_port_0"),
        group(id(n, 35), id(n), "output_port_0"), group(id(i), id(p, 1), "input_port_0"),
        relation(id(p, 1), is_parent_of, id(i)), id_create(id(p)), group(id(p), id(0), "omp_parallel"),
        begin(id(p), id(0), "omp_parallel"),
        // implicit task begin
        id_create(id(x0)), group(id(x0), id(p), "omp_implicit"), begin(id(x0), id(p), "omp_implicit"),
        // task create with dependences, then its dependence
        id_create(id(t)), id_create(id(x0)), relation(id(t), is_child_of, id(x0)), id_create(id(t, 1)),
        group(id(t, 1), id(x0), "node"), code_address(id(t), 0xc1), relation(id(t, 1), is_predecessor_to, id(0x7000)),
        // barrier begin and end, implicit task end
        end, begin(id(x0), id(p), "omp_barrier"), end, end,
        // parallel end: the address is the one given here
        code_address(id(p, 1), 0xc2), group(id(m, 36), id(p, 1), "node"), group(id(o), id(m, 36), "output_port_0"),
        group(id(m, 37), id(m, 36), "input_port_0"), group(id(o), id(p, 1), "output_port_0"),
        relation(id(p, 1), is_parent_of, id(o)), end}));
    EXPECT_EQ(run.file(1),
              (lines{id_create(id(x1)), group(id(x1), id(p), "omp_implicit"), begin(id(x1), id(p), "omp_implicit"),
                     begin(id(t), id(0), "omp_explicit"), end, end, begin(id(x1), id(p), "omp_barrier"), end, end}));
    EXPECT_EQ(files_from(run, 2), lines{});
    EXPECT_EQ(with_prefix(run.child.err, "slot"), (lines{"slot e0 102", "slot p 103", "slot t 107", "slot ta 101",
                                                         "slot tb 108", "slot x0 106", "slot x1 109"}));
}

// Status 4 begins the next task only for runtimes whose version names 2018
// (before OpenMP 5.0 final made it "detach"); a switch always begins it, a
// completion always ends, other statuses do nothing.
TEST(ompt_translation, task_schedule_by_status_and_runtime_version) {
    const struct {
        const char* version;
        bool old;
    } cases[] = {{".2018 at the start", true}, {"runtime 5.0.20181109 build", true}, {"ends with .2018", true},
                 {llvm_14, false}, {"year 2018 without the point", false}, {"ends with .201", false},
                 {".201", false}, {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        lines script;
        for (const std::string status : {"4", "7", "1", "2", "3", "5", "6"})
            script.insert(script.end(), {"set n 50" + status, "task_schedule p " + status + " n"});
        lines expected = {begin(id(507), id(0), "omp_explicit"), end};
        if (c.old) expected.insert(expected.begin(), begin(id(504), id(0), "omp_explicit"));
        EXPECT_EQ(run_script(script, c.version).file(0), after_startup(expected));
    }
}

lines barrier_script() {
    lines script = {"set r 600", "set t 601"};
    for (int kind = 2; kind <= 10; ++kind)
        script.insert(script.end(), {"sync_region " + std::to_string(kind) + " begin r t",
                                     "sync_region " + std::to_string(kind) + " end r t"});
    script.insert(script.end(), {"sync_region barrier beginend r t", "sync_region barrier begin r t",
                                 "sync_region barrier end r t"});
    return script;
}

// Single events on one thread, fed slots with fixed values.
TEST(ompt_translation, single_events) {
    const struct {
        const char* what;
        lines script, records, slots;
    } cases[] = {
        {"implicit tasks: an initial one only gets its id, the region is the runtime's innermost one",
         {"set arg 555", "set rt 777", "implicit_task begin arg init initial",
          "implicit_task end - init initial", "implicit_task begin arg a implicit", "region rt",
          "implicit_task begin arg b implicit", "implicit_task beginend arg b implicit"},
         {end, id_create(id(102)), group(id(102), id(555), "omp_implicit"), begin(id(102), id(555), "omp_implicit"),
          id_create(id(103)), group(id(103), id(777), "omp_implicit"), begin(id(103), id(777), "omp_implicit")},
         {"slot a 102", "slot arg 555", "slot b 103", "slot init 101", "slot rt 777"}},
        {"task create: only explicit tasks with dependences, initial ones name the innermost region",
         {"set enc 42", "set r 888", "task_create enc a explicit 0 0xd0", "task_create enc b target 1 0xd1",
          "task_create enc c initial 1 0xd2", "region r", "task_create enc c initial 0 0xd3",
          "task_create enc d explicit|untied 1 0xd4", "task_schedule enc switch a"},
         {id_create(id(106)), id_create(id(42)), relation(id(106), is_child_of, id(42)), id_create(id(106, 1)),
          group(id(106, 1), id(42), "node"), code_address(id(106), 0xd4), begin(id(101), id(0), "omp_explicit")},
         {"slot a 101", "slot b 102", "slot c 104", "slot d 106", "slot enc 42", "slot r 105"}},
        {"dependences: in and source lead into the task node, out, inout and sink out of it",
         {"set t 900", "dependences t 0 0xa1 in", "dependences t -1 0xa1 in",
          "dependences t 6 0xa1 in 0xa2 out 0xa3 inout 0xa4 mutexinoutset 0xa5 source 0xa6 sink"},
         {relation(id(0xa1), is_predecessor_to, id(900, 1)), relation(id(900, 1), is_predecessor_to, id(0xa2)),
          relation(id(900, 1), is_predecessor_to, id(0xa3)), relation(id(0xa5), is_predecessor_to, id(900, 1)),
          relation(id(900, 1), is_predecessor_to, id(0xa6))},
         {"slot t 900"}},
        {"sync regions: only barriers (kind 1)", barrier_script(), {end, begin(id(601), id(600), "omp_barrier"), end},
         {"slot r 600", "slot t 601"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const mvt_test::traced_run run = run_script(c.script);
        EXPECT_EQ(run.file(0), after_startup(c.records));
        EXPECT_EQ(with_prefix(run.child.err, "slot"), c.slots);
        EXPECT_EQ(files_from(run, 1), lines{});
    }
}

// However the runtime ends, the files end whole and keep every record: events
// that come during exit, after the library's exit handler (as libomp's
// shutdown delivers them), with or without a finalize after them, and a
// library unloaded with dlclose, finalized or not. A finalize during exit
// ends the run: nothing after it is recorded.
TEST(ompt_shutdown, every_ending_keeps_the_last_events_and_closes_the_files) {
    const lines begun = {"set p 7", "implicit_task begin p x implicit"};
    const lines late = {"EXIT{", "implicit_task end - x implicit", "B{", "task_schedule x switch x",
                        "task_schedule x complete x", "}", "}"};
    const lines in_main = {"implicit_task end - x implicit"};
    const lines worker = {begin(id(101), id(0), "omp_explicit"), end};
    lines called_after_finalize = late;
    called_after_finalize.insert(called_after_finalize.end() - 1, {"finalize", "implicit_task end - x implicit"});
    const struct {
        const char* what;
        lines ending;
        lines second_file;
    } cases[] = {
        {"finalized during exit", late, worker},
        {"finalized during exit, then called", called_after_finalize, worker},
        {"never finalized, events during exit", with(late, "never_finalize"), worker},
        {"finalized, then unloaded", with(in_main, "unload"), {}},
        {"never finalized, unloaded", with(with(in_main, "unload"), "never_finalize"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lines script = begun;
        script.insert(script.end(), c.ending.begin(), c.ending.end());
        const mvt_test::traced_run run = run_script(script);
        EXPECT_EQ(run.file(0), after_startup({id_create(id(101)), group(id(101), id(7), "omp_implicit"),
                                              begin(id(101), id(7), "omp_implicit"), end}));
        EXPECT_EQ(run.file(1), c.second_file);
        EXPECT_EQ(files_from(run, 2), lines{});
    }
}

}  // namespace
