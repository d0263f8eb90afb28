// Plays an OpenMP runtime towards the tool in libmvt_xml: loads the library,
// runs the OMPT handshake with its own entry points, then delivers a scripted
// sequence of events through the callbacks the tool registered.
//
//   ompt_scripted_runtime LIB SCENARIO [ARG]
//
// Its own observations (lookups, registrations, slot values, results) go to
// standard error, so that standard output carries only what the tool prints.

#include <dlfcn.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <omp-tools.h>

namespace {

using start_tool_fn = ompt_start_tool_result_t* (*)(unsigned int, const char*);

// The scripted id source: predictable values, drawn in call order.
std::atomic<uint64_t> next_unique_id{101};
std::vector<int> set_callback_answers{ompt_set_always};
size_t set_callback_calls = 0;
std::map<int, ompt_callback_t> callbacks;
thread_local ompt_data_t* innermost_region = nullptr;
thread_local ompt_data_t thread_data{0};

void note(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

ompt_set_result_t set_callback(ompt_callbacks_t event, ompt_callback_t callback) {
    note("set_callback " + std::to_string(event));
    callbacks[event] = callback;
    const int answer = set_callback_answers[set_callback_calls++ % set_callback_answers.size()];
    return static_cast<ompt_set_result_t>(answer);
}

uint64_t get_unique_id() {
    return next_unique_id++;
}

int get_parallel_info(int ancestor_level, ompt_data_t** parallel_data, int*) {
    if (ancestor_level != 0 || innermost_region == nullptr) {
        return 0;
    }
    *parallel_data = innermost_region;
    return 2;
}

int get_task_info(int, int*, ompt_data_t**, ompt_frame_t**, ompt_data_t**, int*) {
    return 0;
}

ompt_data_t* get_thread_data() {
    return &thread_data;
}

template <typename Fn>
ompt_interface_fn_t entry(Fn* fn) {
    return reinterpret_cast<ompt_interface_fn_t>(fn);
}

ompt_interface_fn_t lookup(const char* name) {
    note(std::string("lookup ") + name);
    static const std::map<std::string, ompt_interface_fn_t> entries = {
        {"ompt_set_callback", entry(set_callback)},
        {"ompt_get_unique_id", entry(get_unique_id)},
        {"ompt_get_parallel_info", entry(get_parallel_info)},
        {"ompt_get_task_info", entry(get_task_info)},
        {"ompt_get_thread_data", entry(get_thread_data)},
    };
    auto found = entries.find(name);
    return found != entries.end() ? found->second : nullptr;
}

template <typename Fn>
Fn callback(ompt_callbacks_t event) {
    auto found = callbacks.find(event);
    if (found == callbacks.end()) {
        note("callback " + std::to_string(event) + " was not registered");
        std::exit(3);
    }
    return reinterpret_cast<Fn>(found->second);
}

// The tool's callbacks, typed.
void thread_begin(ompt_data_t* data) {
    callback<ompt_callback_thread_begin_t>(ompt_callback_thread_begin)(ompt_thread_initial, data);
}
void implicit_task(ompt_scope_endpoint_t endpoint, ompt_data_t* parallel, ompt_data_t* task, int flags) {
    callback<ompt_callback_implicit_task_t>(ompt_callback_implicit_task)(endpoint, parallel, task, 2, 0, flags);
}
void parallel_begin(ompt_data_t* encountering, ompt_data_t* parallel) {
    callback<ompt_callback_parallel_begin_t>(ompt_callback_parallel_begin)(encountering, nullptr, parallel, 2, 0,
                                                                            reinterpret_cast<void*>(0xb0));
}
void parallel_end(ompt_data_t* parallel, ompt_data_t* encountering, uintptr_t codeptr) {
    callback<ompt_callback_parallel_end_t>(ompt_callback_parallel_end)(parallel, encountering, 0,
                                                                        reinterpret_cast<void*>(codeptr));
}
void task_create(ompt_data_t* encountering, ompt_data_t* task, int flags, int has_dependences, uintptr_t codeptr) {
    callback<ompt_callback_task_create_t>(ompt_callback_task_create)(encountering, nullptr, task, flags,
                                                                      has_dependences,
                                                                      reinterpret_cast<void*>(codeptr));
}
void dependences(ompt_data_t* task, const std::vector<ompt_dependence_t>& deps, int ndeps) {
    callback<ompt_callback_dependences_t>(ompt_callback_dependences)(task, deps.data(), ndeps);
}
void task_schedule(ompt_data_t* prior, int status, ompt_data_t* next) {
    callback<ompt_callback_task_schedule_t>(ompt_callback_task_schedule)(
        prior, static_cast<ompt_task_status_t>(status), next);
}
void sync_region(int kind, int endpoint, ompt_data_t* parallel, ompt_data_t* task) {
    callback<ompt_callback_sync_region_t>(ompt_callback_sync_region)(
        static_cast<ompt_sync_region_t>(kind), static_cast<ompt_scope_endpoint_t>(endpoint), parallel, task,
        nullptr);
}

ompt_dependence_t dependence(uint64_t variable, int type) {
    ompt_dependence_t dep;
    dep.variable.value = variable;
    dep.dependence_type = static_cast<ompt_dependence_type_t>(type);
    return dep;
}

// A second runtime thread whose steps run when the script says so, keeping
// the thread (and with it its trace file) the same throughout.
class scripted_thread {
public:
    scripted_thread() : thread_([this] { loop(); }) {}
    ~scripted_thread() {
        run({});
        thread_.join();
    }
    void run(std::function<void()> step) {
        std::unique_lock<std::mutex> lock(mutex_);
        step_ = std::move(step);
        pending_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pending_; });
    }

private:
    void loop() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return pending_; });
            const bool stop = !step_;
            if (step_) {
                step_();
            }
            pending_ = false;
            changed_.notify_all();
            if (stop) {
                return;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> step_;
    bool pending_ = false;
    std::thread thread_;
};

struct tool {
    ompt_start_tool_result_t* result = nullptr;

    tool(const char* library, const char* runtime_version) {
        void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        auto start = handle ? reinterpret_cast<start_tool_fn>(dlsym(handle, "ompt_start_tool")) : nullptr;
        if (start == nullptr) {
            note(std::string("cannot load the tool: ") + dlerror());
            std::exit(2);
        }
        result = start(201611, runtime_version);
        ompt_start_tool_result_t* again = start(0, runtime_version);
        note(result != nullptr && again == result ? "start_tool stable" : "start_tool unstable");
    }
    void initialize() {
        note("initialize returned " + std::to_string(result->initialize(lookup, 0, &result->tool_data)));
    }
    void finalize() { result->finalize(&result->tool_data); }
};

void note_slot(const char* name, const ompt_data_t& data) {
    note(std::string("slot ") + name + " " + std::to_string(data.value));
}

void parse_answers(const std::string& list) {
    set_callback_answers.clear();
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        set_callback_answers.push_back(std::atoi(list.substr(at, comma - at).c_str()));
        at = comma + 1;
    }
}

// Registration with the given answers, then the two callbacks that never
// write a record.
void scenario_register(tool& t, const std::string& answers) {
    parse_answers(answers);
    t.initialize();
    ompt_data_t data{0};
    thread_begin(&data);
    note_slot("thread", data);
    const int control = callback<ompt_callback_control_tool_t>(ompt_callback_control_tool)(1, 2, nullptr, nullptr);
    note("control_tool returned " + std::to_string(control));
}

// One parallel region on two threads A (this one) and B, one explicit task
// with an out dependence created on A and run on B, closing barriers.
void scenario_worked_example(tool& t) {
    t.initialize();
    ompt_data_t thread_a{0}, initial{0}, region{0}, implicit_a{0}, thread_b{0}, implicit_b{0}, task{0};
    const auto x = dependence(0x7000, ompt_dependence_type_out);
    scripted_thread b;

    thread_begin(&thread_a);
    implicit_task(ompt_scope_begin, nullptr, &initial, ompt_task_initial);
    parallel_begin(&initial, &region);
    innermost_region = &region;
    implicit_task(ompt_scope_begin, &region, &implicit_a, ompt_task_implicit);
    b.run([&] {
        thread_begin(&thread_b);
        innermost_region = &region;
        implicit_task(ompt_scope_begin, &region, &implicit_b, ompt_task_implicit);
    });
    task_create(&implicit_a, &task, ompt_task_explicit, 1, 0xc1);
    dependences(&task, {x}, 1);
    b.run([&] {
        task_schedule(&implicit_b, ompt_task_switch, &task);
        task_schedule(&task, ompt_task_complete, &implicit_b);
    });
    sync_region(1, ompt_scope_begin, &region, &implicit_a);
    b.run([&] { sync_region(1, ompt_scope_begin, &region, &implicit_b); });
    sync_region(1, ompt_scope_end, &region, &implicit_a);
    b.run([&] { sync_region(1, ompt_scope_end, &region, &implicit_b); });
    implicit_task(ompt_scope_end, nullptr, &implicit_a, ompt_task_implicit);
    b.run([&] { implicit_task(ompt_scope_end, nullptr, &implicit_b, ompt_task_implicit); });
    parallel_end(&region, &initial, 0xc2);
    for (auto* slot : {&thread_a, &initial, &region, &implicit_a, &thread_b, &implicit_b, &task}) {
        note_slot("value", *slot);
    }
}

// Every task status in turn, each switching to a task whose value is 500
// plus the status.
void scenario_schedule(tool& t) {
    t.initialize();
    ompt_data_t prior{1};
    for (int status : {4, 7, 1, 2, 3, 5, 6}) {
        ompt_data_t next{500 + static_cast<uint64_t>(status)};
        task_schedule(&prior, status, &next);
    }
}

void scenario_implicit_tasks() {
    ompt_data_t initial{0}, argument{555}, runtime_region{777}, from_argument{0}, from_runtime{0};
    implicit_task(ompt_scope_begin, &argument, &initial, ompt_task_initial);
    note_slot("initial", initial);
    implicit_task(ompt_scope_end, nullptr, &initial, ompt_task_initial);
    implicit_task(ompt_scope_begin, &argument, &from_argument, ompt_task_implicit);
    innermost_region = &runtime_region;
    implicit_task(ompt_scope_begin, &argument, &from_runtime, ompt_task_implicit);
    implicit_task(ompt_scope_beginend, &argument, &from_runtime, ompt_task_implicit);
}

void scenario_task_creation() {
    ompt_data_t encountering{42}, no_deps{0}, not_explicit{0}, initial{0}, region{888}, with_deps{0};
    task_create(&encountering, &no_deps, ompt_task_explicit, 0, 0xd0);
    task_create(&encountering, &not_explicit, ompt_task_target, 1, 0xd1);
    innermost_region = nullptr;
    task_create(&encountering, &initial, ompt_task_initial, 0, 0xd2);
    innermost_region = &region;
    task_create(&encountering, &initial, ompt_task_initial, 0, 0xd3);
    task_create(&encountering, &with_deps, ompt_task_explicit | ompt_task_untied, 1, 0xd4);
    for (auto* slot : {&no_deps, &not_explicit, &initial, &region, &with_deps}) {
        note_slot("value", *slot);
    }
}

void scenario_dependences() {
    ompt_data_t task{900};
    dependences(&task, {dependence(0xa1, ompt_dependence_type_in)}, 0);
    dependences(&task, {dependence(0xa1, ompt_dependence_type_in)}, -1);
    dependences(&task,
                {dependence(0xa1, ompt_dependence_type_in), dependence(0xa2, ompt_dependence_type_out),
                 dependence(0xa3, ompt_dependence_type_inout), dependence(0xa4, ompt_dependence_type_mutexinoutset),
                 dependence(0xa5, ompt_dependence_type_source), dependence(0xa6, ompt_dependence_type_sink)},
                6);
}

void scenario_sync_regions() {
    ompt_data_t region{600}, task{601};
    for (int kind = 2; kind <= 10; ++kind) {
        sync_region(kind, ompt_scope_begin, &region, &task);
        sync_region(kind, ompt_scope_end, &region, &task);
    }
    sync_region(1, ompt_scope_beginend, &region, &task);
    sync_region(1, ompt_scope_begin, &region, &task);
    sync_region(1, ompt_scope_end, &region, &task);
}

// Callbacks one at a time on a single thread, each fed slots with fixed
// values, so the records show exactly what each translation reads.
void scenario_single_events(tool& t, const std::string& which) {
    t.initialize();
    if (which == "implicit") {
        scenario_implicit_tasks();
    } else if (which == "create") {
        scenario_task_creation();
    } else if (which == "dependences") {
        scenario_dependences();
    } else if (which == "sync") {
        scenario_sync_regions();
    } else {
        note("unknown events " + which);
        std::exit(2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        note("usage: ompt_scripted_runtime LIB SCENARIO [ARG]");
        return 2;
    }
    const std::string scenario = argv[2];
    const std::string arg = argc > 3 ? argv[3] : "";
    const char* version = scenario == "schedule" ? arg.c_str() : "LLVM OMP version: 5.0.20140926";
    tool t(argv[1], version);
    if (scenario == "register") {
        scenario_register(t, arg);
    } else if (scenario == "worked_example") {
        scenario_worked_example(t);
    } else if (scenario == "schedule") {
        scenario_schedule(t);
    } else if (scenario == "events") {
        scenario_single_events(t, arg);
    } else {
        note("unknown scenario " + scenario);
        return 2;
    }
    t.finalize();
    return 0;
}
