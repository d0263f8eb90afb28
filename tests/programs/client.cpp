// The child process of the tests that need one. It binds the library as
// instrumented runtimes do (dlopen()/dlsym()) and plays one scenario; the
// tests read the trace files it leaves and what it prints.
//
//   client LIB none                 load the library, make no call
//   client LIB ordered K            K threads, one after the other, each records
//                                   id_create {k, 0, 0} with a null domain
//   client LIB records | hostile    one call of every function | bad arguments
//   client LIB after_exit           records() after exit-time destruction, on two
//                                   threads, then 20,000 creations of old names
//   client LIB stress T R [BYTES]   T threads play records 0..R-1 of the plan,
//                                   the file size limited to BYTES if given
//   client LIB exit_race T          T threads play the plan while main returns, T more start
//   client LIB crash T K            T threads play the plan; once each made K records, main
//                                   makes K of its own (as thread T), then SIGKILL
//   client LIB fork END F           F fork()s while two threads play the plan; the child
//                                   calls the library and ends by END: exit, _exit or
//                                   exec of "scribble", which writes junk into every
//                                   inherited regular file

#include <dlfcn.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <mvt_xml/itt.h>

#include "record_plan.h"

extern "C" {
void c_relation_add(decltype(&::__itt_relation_add) relation_add, const __itt_domain* domain, __itt_id head,
                    int code, __itt_id tail);
void c_metadata_add(decltype(&::__itt_metadata_add) metadata_add, const __itt_domain* domain,
                    __itt_string_handle* key, int code, size_t count, void* data);
}

namespace {

#define MVT_ITT_FUNCTIONS(X)                                                                               \
    X(domain_create) X(domain_createA) X(string_handle_create) X(string_handle_createA) X(id_create)      \
    X(id_destroy) X(metadata_add) X(metadata_str_add) X(metadata_str_addA) X(relation_add) X(task_begin) \
    X(task_end) X(task_group) X(region_begin) X(region_end) X(api_version) X(api_fini)

struct itt_api {
#define MVT_ITT_MEMBER(name) decltype(&::__itt_##name) name;
    MVT_ITT_FUNCTIONS(MVT_ITT_MEMBER)
#undef MVT_ITT_MEMBER
};

// Loads the library at `path` and binds every function by name; exits with
// status 3 when the library or a function is missing.
itt_api load_itt_api(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    itt_api api{};
    const char* missing = library ? nullptr : dlerror();
#define MVT_ITT_BIND(name)                                                                                \
    if (library && !(api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, "__itt_" #name)))) \
        missing = "__itt_" #name;
    MVT_ITT_FUNCTIONS(MVT_ITT_BIND)
#undef MVT_ITT_BIND
    if (missing) {
        std::fprintf(stderr, "cannot bind %s\n", missing);
        std::exit(3);
    }
    return api;
}

itt_api itt;
std::string library_path;
__itt_domain* early_domain = nullptr;  // "openmp", made before exit

// Plays the plan for one thread, keeping the domain and handle it was handed
// last, as an instrumented runtime keeps the pointers it gets.
struct player {
    unsigned long long t;
    __itt_domain* d = nullptr;
    __itt_string_handle* h = nullptr;

    void play(unsigned long long n) {
        const __itt_id self = {t, n, 0};
        const bool a = plan::a_variant(n);
        const char* name = plan::name_of(n);
        unsigned long long wide = plan::value(t, n);
        unsigned narrow = static_cast<unsigned>(wide);
        const plan::text_of text(t, n);
        switch (plan::kind_of(n)) {
            case plan::handle: h = a ? itt.string_handle_createA(name) : itt.string_handle_create(name); break;
            case plan::domain: d = a ? itt.domain_createA(name) : itt.domain_create(name); break;
            case plan::id: itt.id_create(d, self); break;
            case plan::begin: itt.task_begin(d, self, {t, n - 1, 0}, h); break;
            case plan::metadata:
                if (a) itt.metadata_add(d, self, h, __itt_metadata_u64, 1, &wide);
                else itt.metadata_add(d, self, h, __itt_metadata_u32, 1, &narrow);
                break;
            case plan::text: (a ? itt.metadata_str_addA : itt.metadata_str_add)(d, self, h, text.s, std::strlen(text.s)); break;
            case plan::relation: itt.relation_add(d, self, __itt_relation_is_predecessor_to, {t, n + 1, 0}); break;
            case plan::end: itt.task_end(d); break;
        }
    }
};

// Every exported function once. Prints the addresses of the objects handed
// out, whether they are usable and one per name, and the version.
void records() {
    __itt_domain* d = itt.domain_createA("openmp");
    __itt_string_handle* h = itt.string_handle_createA("omp_parallel");
    __itt_domain* d2 = itt.domain_create("openmp");
    __itt_string_handle* h2 = itt.string_handle_create("omp_parallel");
    const bool usable = d && d->flags == 1 && d->nameA && h && h->strA && d2 && d2->flags == 1 && h2 && h2->strA;
    std::printf("%llu %llu %s %s %s\n", (unsigned long long)d, (unsigned long long)h, usable ? "usable" : "broken",
                d2 == d && h2 == h ? "same" : "new", itt.api_version());
    unsigned long long u64 = 18446744073709551615ULL;
    unsigned int u32 = 7;
    itt.id_create(d, {5, 0, 0});
    itt.id_destroy(d, {1, 2, 3});
    itt.metadata_add(d, {5, 0, 0}, h, __itt_metadata_u64, 1, &u64);
    itt.metadata_add(d, {5, 0, 0}, h, __itt_metadata_u32, 1, &u32);
    itt.metadata_add(d, {5, 0, 0}, h, __itt_metadata_u64, 2, &u64);  // filtered: count
    itt.metadata_add(d, {5, 0, 0}, h, __itt_metadata_s64, 1, &u64);  // filtered: type
    itt.metadata_str_add(d, {5, 0, 0}, h, "a<b&c\nd", 0);
    itt.metadata_str_addA(d, {5, 0, 0}, h, "text", 2);
    c_relation_add(itt.relation_add, d, {1, 0, 0}, 0x107, {2, 0, 0});
    itt.task_begin(d, {5, 0, 0}, __itt_null, h);
    itt.task_end(d);
    itt.task_group(d, {6, 0, 0}, {19, 0, 0}, h);
    itt.region_begin(d, {7, 0, 0}, {6, 0, 0}, h);
    itt.region_end(d, {7, 0, 0});
    itt.api_fini(nullptr);
    itt.task_end(nullptr);
}

// Creation calls made where nothing is recorded any more, repeated `calls`
// times: true when each name keeps the record it was first given (`domain`
// for "openmp"), a new name gets one record, and repeating allocates nothing.
bool names_keep_their_records(__itt_domain* domain, int calls, size_t& grown) {
    const char* long_name = "a name too long for any small-string buffer";
    __itt_domain* fresh = itt.domain_create(long_name);
    __itt_string_handle* handle = itt.string_handle_create(long_name);
    const size_t before = mallinfo2().uordblks;
    bool same = fresh != nullptr && handle != nullptr;
    for (int i = 0; i < calls; ++i) {
        same &= itt.domain_createA("openmp") == domain && itt.domain_create(long_name) == fresh;
        same &= itt.string_handle_createA(long_name) == handle;
    }
    grown = mallinfo2().uordblks - before;
    return same;
}

void hostile() {
    std::string huge(1 << 20, 'x');
    __itt_domain* d = itt.domain_create(nullptr);
    __itt_string_handle* h = itt.string_handle_create(nullptr);
    __itt_string_handle* big = itt.string_handle_createA(huge.c_str());
    std::printf("%s %s\n", d && h && d->nameA && h->strA ? "usable" : "broken",
                std::strlen(big->strA) == huge.size() ? "kept" : "cut");
    itt.domain_createA("");
    itt.domain_createA(std::string(300, 'd').c_str());
    itt.metadata_add(d, __itt_null, h, __itt_metadata_u64, 1, nullptr);
    itt.metadata_add(d, __itt_null, h, __itt_metadata_u64, static_cast<size_t>(-1), nullptr);
    c_metadata_add(itt.metadata_add, d, h, -5, 1, nullptr);
    itt.metadata_str_add(d, __itt_null, h, nullptr, 99);
    itt.metadata_str_addA(nullptr, __itt_null, nullptr, huge.c_str(), huge.size());
    itt.task_begin(nullptr, __itt_null, __itt_null, nullptr);
    c_relation_add(itt.relation_add, nullptr, __itt_null, -1, __itt_null);
    itt.api_fini(reinterpret_cast<void*>(1));
}

void stress(int threads, unsigned long long records) {
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            // All threads start together, so the first names are new to all of them at once.
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            player p{static_cast<unsigned long long>(t)};
            for (unsigned long long n = 0; n < records; ++n) p.play(n);
        });
    }
    for (std::thread& t : pool) t.join();
}

// Finished records per thread; static, because the threads outlive main.
std::atomic<unsigned long long> made[64];

void record_forever(unsigned long long t, std::atomic<unsigned long long>* count) {
    player p{t};
    for (unsigned long long n = 0;; ++n) {
        p.play(n);
        if (count) count->store(n + 1);
    }
}

void start_recording(int threads, unsigned long long records) {
    for (int t = 0; t < threads; ++t) std::thread(record_forever, t, &made[t]).detach();
    for (int t = 0; t < threads; ++t)
        while (made[t].load() < records) std::this_thread::yield();
}

bool in_forked_child = false;

}  // namespace

// LeakSanitizer, where present, asks this before its check at exit. In a
// forked child it would still list the parent's threads, cannot stop them and
// complains on stderr, so a forked child is not checked.
extern "C" int __lsan_is_turned_off() { return in_forked_child ? 1 : 0; }

namespace {

int fork_while_recording(const std::string& ending, int forks) {
    __itt_domain* d = itt.domain_create("parent");
    __itt_domain* parent_openmp = itt.domain_create("openmp");
    std::atomic<bool> stop{false};
    std::vector<std::thread> background;
    for (unsigned long long t = 0; t < 2; ++t)
        background.emplace_back([&stop, t] {
            player p{t};
            for (unsigned long long n = 0; !stop.load(); ++n) p.play(n);
        });
    int failures = 0;
    for (unsigned long long i = 0; i < static_cast<unsigned long long>(forks); ++i) {
        itt.id_create(d, {1000, i, 0});
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            in_forked_child = true;
            // None of these may reach a trace.
            itt.id_create(d, {999999, i, 0});
            itt.domain_create("made in the child");
            itt.task_end(d);
            size_t grown = 0;
            if (!names_keep_their_records(parent_openmp, 1000, grown) || grown != 0) _exit(4);
#ifndef MVT_SANITIZED
            // A thread whose first call is in the child. Sanitizers do not support
            // threads in the child of a threaded process, hence the guard.
            std::thread([d, i] { itt.id_create(d, {999999, i, 1}); }).join();
#endif
            if (ending == "exit") std::exit(0);
            if (ending == "exec")
                execl("/proc/self/exe", "/proc/self/exe", library_path.c_str(), "scribble", static_cast<char*>(nullptr));
            _exit(ending == "_exit" ? 0 : 127);
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("child %llu ended with status %d\n", i, status);
            ++failures;
        }
    }
    stop.store(true);
    for (std::thread& t : background) t.join();
    itt.id_create(d, {1000, static_cast<unsigned long long>(forks), 0});
    return failures == 0 ? 0 : 1;
}

// Run by exec() in a forked child: junk in any inherited trace file would show.
int scribble() {
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && write(fd, "JUNK\n", 5) < 0) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    library_path = argv[1];
    const std::string mode = argv[2], arg = argc > 3 ? argv[3] : "";
    const int count = std::atoi(arg.c_str());
    const unsigned long long second = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0;
    if (mode == "scribble") return scribble();
    if (mode == "after_exit")  // runs after the library's exit handlers
        std::atexit([] {
            records();
            std::thread(records).join();
            size_t grown = 0;
            const bool same = names_keep_their_records(early_domain, 20000, grown);
            std::printf("late: %s, %zu bytes\n", same ? "registered" : "new", grown);
            std::fflush(stdout);
        });
    if (mode == "stress" && argc > 5 && *argv[5]) {
        signal(SIGXFSZ, SIG_IGN);  // writes beyond the limit fail with EFBIG instead
        const rlim_t bytes = std::strtoull(argv[5], nullptr, 10);
        rlimit limit = {bytes, bytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 5;
    }
    itt = load_itt_api(argv[1]);
    if (mode == "none") return 0;
    if (mode == "ordered")
        for (unsigned long long k = 0; k < static_cast<unsigned long long>(count); ++k)
            std::thread([k] { itt.id_create(nullptr, {k, 0, 0}); }).join();
    else if (mode == "records") records();
    else if (mode == "hostile") hostile();
    else if (mode == "stress") stress(count, second);
    else if (mode == "exit_race") {
        start_recording(count, 3);  // each has written an identifier, by which the test knows its file
        // These make their first call while main returns, or while the library shuts down.
        for (int t = 0; t < count; ++t) std::thread(record_forever, 1000 + t, nullptr).detach();
    } else if (mode == "crash") {
        start_recording(count, second);
        player main_thread{static_cast<unsigned long long>(count)};
        for (unsigned long long n = 0; n < second; ++n) main_thread.play(n);
        kill(getpid(), SIGKILL);
    } else if (mode == "fork" && argc > 4) return fork_while_recording(arg, std::atoi(argv[4]));
    else if (mode == "after_exit") {
        early_domain = itt.domain_createA("openmp");
        itt.id_create(nullptr, {1, 0, 0});
    }
    else return 2;
    return 0;
}
