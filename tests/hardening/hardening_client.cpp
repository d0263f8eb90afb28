// The child process of the hardening tests. It binds the library as
// instrumented runtimes do (dlopen()/dlsym()) and plays one scenario, chosen
// by its second argument; the tests read the trace files it leaves and what it
// prints.
//
//   hardening_client LIB stress T R          T threads play records 0..R-1 of the plan
//   hardening_client LIB exit_race T         T threads record while main returns, T more start
//   hardening_client LIB crash T K           T threads record; SIGKILL once each made K records
//   hardening_client LIB fork C END F        F fork()s while two threads record; the child
//                                            records (C=1) or not (C=0), then ends with
//                                            END = exit, _exit or exec
//   hardening_client LIB scribble            writes junk into every inherited descriptor
//   hardening_client LIB after_exit          every function, after exit-time destruction
//   hardening_client LIB ompt LOOKUP         the OpenMP tool started with a runtime whose
//                                            lookup finds nothing (none), is null (null) or
//                                            finds only ompt_set_callback (set_callback)
//   hardening_client LIB few                 a handful of records on two threads
//   hardening_client LIB fill R [BYTES]      three threads play R records each, with the
//                                            file size limited to BYTES when given

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <omp-tools.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "itt_api.h"
#include "record_plan.h"

namespace {

mvt_test::itt_api itt;
std::string library_path;

// Plays the plan for one thread; keeps the domain and handle it created last,
// as an instrumented runtime keeps the pointers it was given.
class player {
public:
    explicit player(unsigned long long thread) : t_(thread) {}

    void play(unsigned long long n) {
        const __itt_id self = {t_, n, 0};
        const bool a = plan::use_a_variant(n);
        switch (plan::kind_of(n)) {
            case plan::handle_create: {
                plan::short_text name = plan::shared_name(n);
                h_ = a ? itt.string_handle_createA(name.c_str()) : itt.string_handle_create(name.c_str());
                break;
            }
            case plan::domain_create: {
                plan::short_text name = plan::shared_name(n);
                d_ = a ? itt.domain_createA(name.c_str()) : itt.domain_create(name.c_str());
                break;
            }
            case plan::id_create:
                itt.id_create(d_, self);
                break;
            case plan::task_begin:
                itt.task_begin(d_, self, {t_, n - 1, 0}, h_);
                break;
            case plan::metadata: {
                unsigned long long wide = plan::metadata_value(t_, n);
                unsigned narrow = static_cast<unsigned>(wide);
                if (a) itt.metadata_add(d_, self, h_, __itt_metadata_u64, 1, &wide);
                else itt.metadata_add(d_, self, h_, __itt_metadata_u32, 1, &narrow);
                break;
            }
            case plan::metadata_string: {
                plan::short_text text = plan::metadata_text(t_, n);
                (a ? itt.metadata_str_addA : itt.metadata_str_add)(d_, self, h_, text.c_str(), text.size());
                break;
            }
            case plan::relation:
                itt.relation_add(d_, self, __itt_relation_is_predecessor_to, {t_, n + 1, 0});
                break;
            case plan::task_end:
                itt.task_end(d_);
                break;
        }
    }

private:
    unsigned long long t_;
    __itt_domain* d_ = nullptr;
    __itt_string_handle* h_ = nullptr;
};

void stress(int threads, unsigned long long records) {
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            // All threads start together, so the first names are new to all of them at once.
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            player p(static_cast<unsigned long long>(t));
            for (unsigned long long n = 0; n < records; ++n) p.play(n);
        });
    }
    for (std::thread& t : pool) t.join();
}

// Counts of finished records, per thread; in static storage because the
// threads outlive main.
std::atomic<unsigned long long> made[64];  // exit_race and crash take at most 64 threads

// Threads that never stop; each counts its finished records in `made`.
void record_forever(unsigned long long t, std::atomic<unsigned long long>* made) {
    player p(t);
    for (unsigned long long n = 0;; ++n) {
        p.play(n);
        if (made) made->store(n + 1);
    }
}

void exit_race(int threads) {
    for (int t = 0; t < threads; ++t) std::thread(record_forever, t, &made[t]).detach();
    // Until each has written an identifier, by which the test knows its file.
    for (int t = 0; t < threads; ++t)
        while (made[t].load() < 3) std::this_thread::yield();
    // These make their first call while main returns, or while the library shuts down.
    for (int t = 0; t < threads; ++t) std::thread(record_forever, 1000 + t, nullptr).detach();
}

[[noreturn]] void crash(int threads, unsigned long long records) {
    for (int t = 0; t < threads; ++t) std::thread(record_forever, t, &made[t]).detach();
    for (int t = 0; t < threads; ++t)
        while (made[t].load() < records) std::this_thread::yield();
    kill(getpid(), SIGKILL);
    for (;;) pause();
}

// Marks the records that a forked child attempts; none may reach a trace.
constexpr unsigned long long child_marker = 999999;

bool in_forked_child = false;

}  // namespace

// LeakSanitizer, where present, asks this before its check at exit. In a
// forked child it would still list the parent's threads, cannot stop them and
// complains on stderr, so a forked child is not checked.
extern "C" int __lsan_is_turned_off() { return in_forked_child ? 1 : 0; }

namespace {

void child_records(__itt_domain* d, unsigned long long fork_number) {
    itt.id_create(d, {child_marker, fork_number, 0});
    itt.domain_create("made in the child");
    itt.task_end(d);
#ifndef MVT_SANITIZED
    // A thread that calls for the first time in the child. Sanitizers do not
    // support starting threads in the child of a threaded process (ThreadSanitizer
    // ends it, AddressSanitizer may deadlock on its allocator), hence the guard.
    std::thread([d, fork_number] { itt.id_create(d, {child_marker, fork_number, 1}); }).join();
#endif
}

int fork_while_recording(bool child_calls, const std::string& ending, int forks) {
    __itt_domain* d = itt.domain_create("parent");
    std::atomic<bool> stop{false};
    std::vector<std::thread> background;
    for (unsigned long long t = 0; t < 2; ++t) {
        background.emplace_back([&stop, t] {
            player p(t);
            for (unsigned long long n = 0; !stop.load(); ++n) p.play(n);
        });
    }
    int failures = 0;
    for (int i = 0; i < forks; ++i) {
        itt.id_create(d, {1000, static_cast<unsigned long long>(i), 0});
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            in_forked_child = true;
            if (child_calls) child_records(d, static_cast<unsigned long long>(i));
            if (ending == "exit") std::exit(0);
            if (ending == "exec") {
                const char* self = "/proc/self/exe";
                execl(self, self, library_path.c_str(), "scribble", static_cast<char*>(nullptr));
            }
            _exit(ending == "_exit" ? 0 : 127);
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("child %d ended with status %d\n", i, status);
            ++failures;
        }
    }
    stop.store(true);
    for (std::thread& t : background) t.join();
    itt.id_create(d, {1000, static_cast<unsigned long long>(forks), 0});
    std::printf("%d forks done\n", forks);
    return failures == 0 ? 0 : 1;
}

// Run by exec() in a forked child: every regular file it inherited gets a
// line of junk, which would show in a trace file whose descriptor leaked.
// Pipes and terminals inherited from whoever runs the tests are left alone.
int scribble() {
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        ssize_t ignored = write(fd, "JUNK\n", 5);
        (void)ignored;
    }
    return 0;
}

const char* usable(const __itt_domain* d) { return d && d->flags == 1 && d->nameA ? "usable" : "broken"; }
const char* usable(const __itt_string_handle* h) { return h && h->strA ? "usable" : "broken"; }

// Every exported function once; what a late caller gets back is printed.
void every_function(const char* who) {
    __itt_domain* d = itt.domain_createA("late");
    __itt_domain* d2 = itt.domain_create("late");
    __itt_string_handle* h = itt.string_handle_createA("late");
    __itt_string_handle* h2 = itt.string_handle_create("late");
    unsigned long long value = 1;
    itt.id_create(d, {7, 7, 7});
    itt.id_destroy(d, {7, 7, 7});
    itt.metadata_add(d, {7, 7, 7}, h, __itt_metadata_u64, 1, &value);
    itt.metadata_str_add(d, {7, 7, 7}, h, "late", 4);
    itt.metadata_str_addA(d, {7, 7, 7}, h, "late", 4);
    itt.relation_add(d, {7, 7, 7}, __itt_relation_is_parent_of, {8, 8, 8});
    itt.task_begin(d, {7, 7, 7}, __itt_null, h);
    itt.task_end(d);
    itt.task_group(d, {7, 7, 7}, __itt_null, h);
    itt.region_begin(d, {7, 7, 7}, __itt_null, h);
    itt.region_end(d, {7, 7, 7});
    itt.api_fini(nullptr);
    std::printf("%s: %s %s %s %s %s\n", who, usable(d), usable(d2), usable(h), usable(h2), itt.api_version());
}

void after_exit() {
    every_function("recorded before");
    std::thread([] { every_function("first call"); }).join();
    std::fflush(stdout);
}

// A runtime's entry points, as far as the scenario provides them.
std::vector<std::pair<ompt_callbacks_t, ompt_callback_t>> registered_callbacks;

ompt_set_result_t record_callback(ompt_callbacks_t event, ompt_callback_t callback) {
    registered_callbacks.emplace_back(event, callback);
    return ompt_set_always;
}

ompt_interface_fn_t find_nothing(const char*) { return nullptr; }

ompt_interface_fn_t find_set_callback_only(const char* name) {
    return std::string(name) == "ompt_set_callback" ? reinterpret_cast<ompt_interface_fn_t>(&record_callback)
                                                     : nullptr;
}

int start_tool(const std::string& lookup_kind) {
    void* library = dlopen(library_path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto start = reinterpret_cast<ompt_start_tool_result_t* (*)(unsigned, const char*)>(
        library ? dlsym(library, "ompt_start_tool") : nullptr);
    if (!start) return 3;
    ompt_start_tool_result_t* tool = start(201611, nullptr);  // a runtime with no version string
    if (!tool || !tool->initialize || !tool->finalize) return 4;
    ompt_function_lookup_t lookup = lookup_kind == "none"           ? find_nothing
                                    : lookup_kind == "set_callback" ? find_set_callback_only
                                                                    : nullptr;
    int result = tool->initialize(lookup, 0, &tool->tool_data);
    std::fflush(stdout);
    // Whatever was registered is called as a runtime would: a thread begins.
    for (auto& [event, callback] : registered_callbacks) {
        if (event != ompt_callback_thread_begin) continue;
        ompt_data_t thread_data{};
        reinterpret_cast<ompt_callback_thread_begin_t>(callback)(ompt_thread_initial, &thread_data);
    }
    tool->finalize(&tool->tool_data);
    std::printf("initialize %d, %zu callbacks\n", result, registered_callbacks.size());
    return 0;
}

void few() {
    __itt_domain* d = itt.domain_create("few");
    for (unsigned long long i = 0; i < 3; ++i) itt.id_create(d, {i, 0, 0});
    std::thread([d] { itt.task_end(d); }).join();
}

void fill(unsigned long long records) {
    std::vector<std::thread> pool;
    for (unsigned long long t = 0; t < 3; ++t) {
        pool.emplace_back([t, records] {
            player p(t);
            for (unsigned long long n = 0; n < records; ++n) p.play(n);
        });
    }
    for (std::thread& t : pool) t.join();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    library_path = argv[1];
    const std::string mode = argv[2];
    const std::string arg = argc > 3 ? argv[3] : "";
    const int count = std::atoi(arg.c_str());
    const unsigned long long second = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0;
    if (mode == "scribble") return scribble();
    if (mode == "after_exit") std::atexit(after_exit);  // runs after the library's exit handlers
    if (mode == "fill" && second > 0) {
        // Writes beyond the limit fail with EFBIG instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {second, second};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 5;
    }
    itt = mvt_test::load_itt_api(argv[1]);
    if (mode == "stress") stress(count, second);
    else if (mode == "exit_race") exit_race(count);
    else if (mode == "crash") crash(count, second);
    else if (mode == "fork" && argc > 5) return fork_while_recording(arg == "1", argv[4], std::atoi(argv[5]));
    else if (mode == "after_exit") itt.id_create(nullptr, {1, 0, 0});
    else if (mode == "ompt") return start_tool(arg);
    else if (mode == "few") few();
    else if (mode == "fill") fill(static_cast<unsigned long long>(count));
    else return 2;
    std::printf("done\n");
    return 0;
}
