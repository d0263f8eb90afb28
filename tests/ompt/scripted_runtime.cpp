// Plays an OpenMP runtime towards the tool in libmvt_xml: loads the library,
// runs the OMPT handshake with its own entry points, then delivers the events
// of a script through the callbacks the tool registered.
//
//   ompt_scripted_runtime LIB RUNTIME_VERSION SET_CALLBACK_ANSWERS COMMAND...
//
// SET_CALLBACK_ANSWERS is a comma-separated list, used round robin, or
// no_lookup or find_set_callback_only for a runtime whose lookup is null or
// offers less. RUNTIME_VERSION "-" is a null version string. Each
// COMMAND is one event (see run below); ompt_data_t slots are named by the
// script, "-" being a null slot; numbers may be given by their OpenMP names,
// joined with '|'. Commands between "B{" and "}" run on a second thread.
//
// The runtime finalizes the tool when the script is done, unless the script
// says otherwise: commands between "EXIT{" and "}" are delivered during exit,
// after the library's own exit handler, and the tool is finalized after them,
// as libomp does in its exit-time shutdown; "finalize" finalizes it where it
// stands instead, "never_finalize" leaves it unfinalized, and "unload"
// dlclose()s the library at the end of main. The
// runtime's observations (lookups, registrations, results, at the end every
// slot's value) go to standard error: standard output is the tool's.

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <omp-tools.h>

namespace {

std::atomic<uint64_t> next_unique_id{101};  // predictable ids, in call order
std::vector<int> answers;
size_t registrations = 0;
std::map<int, ompt_callback_t> callbacks;
std::map<std::string, ompt_data_t> slots;
ompt_data_t* innermost_region = nullptr;  // what ompt_get_parallel_info reports

void note(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

ompt_set_result_t ompt_set_callback(ompt_callbacks_t event, ompt_callback_t callback) {
    note("set_callback " + std::to_string(event));
    callbacks[event] = callback;
    return static_cast<ompt_set_result_t>(answers[registrations++ % answers.size()]);
}
uint64_t ompt_get_unique_id() { return next_unique_id++; }
int ompt_get_parallel_info(int level, ompt_data_t** parallel_data, int*) {
    if (level != 0 || innermost_region == nullptr) return 0;
    *parallel_data = innermost_region;
    return 2;
}

#define ENTRY(name) {#name, reinterpret_cast<ompt_interface_fn_t>(name)}
ompt_interface_fn_t lookup(const char* name) {
    note(std::string("lookup ") + name);
    // The tool fetches ompt_get_task_info and ompt_get_thread_data but must
    // not call them: they stay null here.
    static const std::map<std::string, ompt_interface_fn_t> entries = {
        ENTRY(ompt_set_callback), ENTRY(ompt_get_unique_id), ENTRY(ompt_get_parallel_info)};
    const auto found = entries.find(name);
    return found != entries.end() ? found->second : nullptr;
}

ompt_interface_fn_t find_set_callback_only(const char* name) {
    return std::string(name) == "ompt_set_callback" ? lookup(name) : nullptr;
}

// The tool's callback for an event; one it did not register ends the run.
#define CALLBACK(name) reinterpret_cast<ompt_callback_##name##_t>(callbacks.at(ompt_callback_##name))

// Built before main, so that it outlives the commands delivered during exit.
const std::map<std::string, int> names = {
    {"begin", 1}, {"end", 2},    {"beginend", 3},      {"initial", 1}, {"implicit", 2}, {"explicit", 4},
    {"target", 8}, {"untied", ompt_task_untied}, {"in", 1}, {"out", 2}, {"inout", 3}, {"mutexinoutset", 4},
    {"source", 5}, {"sink", 6},  {"complete", 1},      {"switch", 7},  {"barrier", 1}};

int number(const std::string& word) {
    int value = 0;
    std::istringstream parts(word);
    for (std::string part; std::getline(parts, part, '|');)
        value |= names.count(part) ? names.at(part) : std::stoi(part, nullptr, 0);
    return value;
}

ompt_start_tool_result_t* tool = nullptr;
bool finalizes = true, unloaded = false;

// The tool is finalized once: by the script's "finalize", or at its end.
void finalize() {
    if (finalizes) tool->finalize(&tool->tool_data);
    finalizes = false;
}

// One command: its name, then the callback's arguments in their order.
void run(const std::string& command) {
    std::istringstream in(command);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    auto slot = [&](size_t k) { return w.at(k) == "-" ? nullptr : &slots[w.at(k)]; };
    auto n = [&](size_t k) { return number(w.at(k)); };
    auto code = [&](size_t k) { return reinterpret_cast<const void*>(std::stoull(w.at(k), nullptr, 0)); };
    auto endpoint = [&](size_t k) { return static_cast<ompt_scope_endpoint_t>(n(k)); };
    const std::string& c = w.at(0);
    if (c == "finalize") {
        finalize();
    } else if (c == "set") {  // set SLOT VALUE
        slot(1)->value = std::stoull(w.at(2), nullptr, 0);
    } else if (c == "region") {  // region SLOT: the innermost region from now on
        innermost_region = slot(1);
    } else if (c == "thread_begin") {  // thread_begin THREAD
        CALLBACK(thread_begin)(ompt_thread_initial, slot(1));
    } else if (c == "control_tool") {
        note("control_tool returned " + std::to_string(CALLBACK(control_tool)(1, 2, nullptr, nullptr)));
    } else if (c == "implicit_task") {  // implicit_task ENDPOINT PARALLEL TASK FLAGS
        CALLBACK(implicit_task)(endpoint(1), slot(2), slot(3), 2, 0, n(4));
    } else if (c == "parallel_begin") {  // parallel_begin ENCOUNTERING PARALLEL CODEPTR
        CALLBACK(parallel_begin)(slot(1), nullptr, slot(2), 2, 0, code(3));
    } else if (c == "parallel_end") {  // parallel_end PARALLEL ENCOUNTERING CODEPTR
        CALLBACK(parallel_end)(slot(1), slot(2), 0, code(3));
    } else if (c == "task_create") {  // task_create ENCOUNTERING NEW FLAGS HAS_DEPENDENCES CODEPTR
        CALLBACK(task_create)(slot(1), nullptr, slot(2), n(3), n(4), code(5));
    } else if (c == "dependences") {  // dependences TASK NDEPS [VARIABLE TYPE]...
        std::vector<ompt_dependence_t> deps((w.size() - 3) / 2);
        for (size_t k = 0; k < deps.size(); ++k) {
            deps[k].variable.value = std::stoull(w.at(3 + 2 * k), nullptr, 0);
            deps[k].dependence_type = static_cast<ompt_dependence_type_t>(n(4 + 2 * k));
        }
        CALLBACK(dependences)(slot(1), deps.data(), n(2));
    } else if (c == "task_schedule") {  // task_schedule PRIOR STATUS NEXT
        CALLBACK(task_schedule)(slot(1), static_cast<ompt_task_status_t>(n(2)), slot(3));
    } else if (c == "sync_region") {  // sync_region KIND ENDPOINT PARALLEL TASK
        CALLBACK(sync_region)(static_cast<ompt_sync_region_t>(n(1)), endpoint(2), slot(3), slot(4), nullptr);
    } else {
        note("unknown command " + command);
        std::exit(2);
    }
}

// Runs commands in order, those between "B{" and "}" on one new thread.
void play(const std::vector<std::string>& commands) {
    std::vector<std::string> on_b;
    bool collecting = false;
    for (const std::string& command : commands) {
        if (command == "B{" || command == "}") {
            collecting = command == "B{";
            if (!collecting) std::thread([&] { for (const std::string& c : on_b) run(c); }).join();
            on_b.clear();
        } else if (collecting) {
            on_b.push_back(command);
        } else {
            run(command);
        }
    }
}

std::vector<std::string> at_exit;  // the commands of "EXIT{ ... }"

// Registered before the library is loaded, so it runs after the library's
// own exit handler.
void exit_time_shutdown() {
    if (at_exit.empty()) return;
    play(at_exit);
    finalize();
}

// Splits off the "EXIT{ ... }" block (which may hold "B{ ... }") and the flags.
std::vector<std::string> read_script(char** first, char** last) {
    std::vector<std::string> script;
    for (char** word = first; word != last; ++word) {
        const std::string command = *word;
        if (command == "never_finalize") {
            finalizes = false;
        } else if (command == "unload") {
            unloaded = true;
        } else if (command == "EXIT{") {
            for (int depth = 1; ++word != last;) {
                depth += std::string(*word) == "B{" ? 1 : std::string(*word) == "}" ? -1 : 0;
                if (depth == 0) break;
                at_exit.push_back(*word);
            }
            if (word == last) break;
        } else {
            script.push_back(command);
        }
    }
    return script;
}

}  // namespace

// Unloading the library strands what it keeps for the life of the process
// (its records and per-thread holders); that is by design, not a leak.
extern "C" int __lsan_is_turned_off() { return unloaded ? 1 : 0; }

int main(int argc, char** argv) {
    if (argc < 4) {
        note("usage: ompt_scripted_runtime LIB RUNTIME_VERSION SET_CALLBACK_ANSWERS COMMAND...");
        return 2;
    }
    std::atexit(exit_time_shutdown);
    const std::vector<std::string> script = read_script(argv + 4, argv + argc);
    using start_tool_fn = ompt_start_tool_result_t* (*)(unsigned int, const char*);
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    const auto start = library ? reinterpret_cast<start_tool_fn>(dlsym(library, "ompt_start_tool")) : nullptr;
    if (start == nullptr) {
        note(std::string("cannot load the tool: ") + dlerror());
        return 2;
    }
    const char* version = std::string(argv[2]) == "-" ? nullptr : argv[2];
    tool = start(201611, version);
    note(tool != nullptr && start(0, version) == tool ? "start_tool stable" : "start_tool unstable");
    const std::string kind = argv[3];
    ompt_function_lookup_t chosen = lookup;
    if (kind == "no_lookup") chosen = nullptr;
    if (kind == "find_set_callback_only") chosen = find_set_callback_only;
    std::istringstream list(chosen == lookup ? kind : "");
    for (std::string answer; std::getline(list, answer, ',');) answers.push_back(std::stoi(answer));
    note("initialize returned " + std::to_string(tool->initialize(chosen, 0, &tool->tool_data)));

    play(script);
    if (at_exit.empty()) finalize();
    for (const auto& [name, data] : slots) note("slot " + name + " " + std::to_string(data.value));
    if (unloaded) dlclose(library);
    return 0;
}
