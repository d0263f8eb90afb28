// A client of the library for tests that run in a child process. It binds the
// __itt_* functions with dlopen()/dlsym() and plays one scenario, chosen by
// its first argument; the test then reads the trace files it leaves.
//
//   trace_client LIB none                 load the library, make no call
//   trace_client LIB ordered K            K threads, one after the other, each
//                                         records id_create {k, 0, 0} and ends
//   trace_client LIB records              one call of every function
//   trace_client LIB registry_race T      T threads create the same names at once
//   trace_client LIB exit_race T          T threads keep recording while main returns
//   trace_client LIB after_exit           calls made after exit-time destruction
//   trace_client LIB names                long and empty names
//   trace_client LIB hostile              null pointers, huge and empty names

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "itt_api.h"

extern "C" {
void c_relation_add(decltype(&::__itt_relation_add) relation_add, const __itt_domain* domain, __itt_id head,
                    int code, __itt_id tail);
void c_metadata_add(decltype(&::__itt_metadata_add) metadata_add, const __itt_domain* domain,
                    __itt_string_handle* key, int code, size_t count, void* data);
}

namespace {

mvt_test::itt_api itt;

__itt_id id_of(unsigned long long a, unsigned long long b = 0, unsigned long long c = 0) { return {a, b, c}; }

void ordered(int count) {
    for (int k = 0; k < count; ++k) std::thread([k] { itt.id_create(nullptr, id_of(k)); }).join();
}

void records() {
    __itt_domain* d = itt.domain_createA("openmp");
    __itt_string_handle* h = itt.string_handle_createA("omp_parallel");
    std::printf("domain %llu\nhandle %llu\n", (unsigned long long)d, (unsigned long long)h);
    itt.id_create(d, id_of(5));
    itt.id_destroy(d, id_of(1, 2, 3));
    unsigned long long u64 = 18446744073709551615ULL;
    unsigned int u32 = 7;
    itt.metadata_add(d, id_of(5), h, __itt_metadata_u64, 1, &u64);
    itt.metadata_add(d, id_of(5), h, __itt_metadata_u32, 1, &u32);
    itt.metadata_add(d, id_of(5), h, __itt_metadata_u64, 2, &u64);    // filtered: count
    itt.metadata_add(d, id_of(5), h, __itt_metadata_s64, 1, &u64);    // filtered: type
    itt.metadata_str_add(d, id_of(5), h, "a<b&c\nd", 0);
    itt.metadata_str_addA(d, id_of(5), h, "text", 2);
    c_relation_add(itt.relation_add, d, id_of(1), 0x107, id_of(2));
    itt.task_begin(d, id_of(5), __itt_null, h);
    itt.task_end(d);
    itt.task_group(d, id_of(6), id_of(19), h);
    itt.region_begin(d, id_of(7), id_of(6), h);
    itt.region_end(d, id_of(7));
    itt.api_fini(nullptr);
    itt.task_end(nullptr);
    std::printf("version %s\n", itt.api_version());
}

const char* const race_names[] = {"openmp", "OpenMP", "omp", "omp_parallel", "omp_parallel_", "", "node"};

void registry_race(int threads) {
    std::atomic<int> ready{0};
    std::vector<std::string> lines(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threads) {
            }
            for (const char* name : race_names) {
                char line[256];
                std::snprintf(line, sizeof line, "%d domain '%s' %p\n%d handle '%s' %p\n", t, name,
                              static_cast<void*>(itt.domain_create(name)), t, name,
                              static_cast<void*>(itt.string_handle_createA(name)));
                lines[static_cast<size_t>(t)] += line;
            }
        });
    }
    for (std::thread& t : pool) t.join();
    for (const std::string& l : lines) std::fputs(l.c_str(), stdout);
}

void keep_recording(__itt_domain* d, __itt_string_handle* h, unsigned long long self) {
    for (unsigned long long n = 0;; ++n) {
        itt.task_begin(d, id_of(self, n), __itt_null, h);
        itt.metadata_str_add(d, id_of(self, n), h, "busy", 4);
        itt.relation_add(d, id_of(self, n), __itt_relation_is_predecessor_to, id_of(self, n + 1));
        itt.task_end(d);
    }
}

void exit_race(int threads) {
    __itt_domain* d = itt.domain_create("race");
    __itt_string_handle* h = itt.string_handle_create("work");
    for (int t = 0; t < threads; ++t) std::thread(keep_recording, d, h, t).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // Threads whose first call races with exit.
    for (int t = 0; t < threads; ++t) std::thread(keep_recording, d, h, 1000 + t).detach();
}

void after_exit_calls() {
    __itt_domain* d = itt.domain_create("after");
    std::printf("after-exit domain %s\n", d && d->flags == 1 ? "usable" : "broken");
    itt.task_end(d);
    std::thread([] { itt.task_end(nullptr); }).join();
    std::fflush(stdout);
}

void names() {
    itt.domain_createA(std::string(300, 'd').c_str());
    itt.string_handle_create(std::string(1200, 'h').c_str());
    itt.domain_create("");
}

void hostile() {
    std::string huge(1 << 20, 'x');
    __itt_domain* d = itt.domain_create(nullptr);
    __itt_string_handle* h = itt.string_handle_create(nullptr);
    std::printf("null names %s\n", d && h && d->nameA && h->strA ? "usable" : "broken");
    __itt_string_handle* big = itt.string_handle_createA(huge.c_str());
    std::printf("huge name %s\n", std::strlen(big->strA) == huge.size() ? "kept" : "cut");
    itt.domain_createA("");
    itt.metadata_add(d, __itt_null, h, __itt_metadata_u64, 1, nullptr);
    itt.metadata_add(d, __itt_null, h, __itt_metadata_u64, static_cast<size_t>(-1), nullptr);
    c_metadata_add(itt.metadata_add, d, h, -5, 1, nullptr);
    itt.metadata_str_add(d, __itt_null, h, nullptr, 99);
    itt.metadata_str_addA(nullptr, __itt_null, nullptr, huge.c_str(), huge.size());
    itt.task_begin(nullptr, __itt_null, __itt_null, nullptr);
    c_relation_add(itt.relation_add, nullptr, __itt_null, -1, __itt_null);
    itt.api_fini(reinterpret_cast<void*>(1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string mode = argv[2];
    int count = argc > 3 ? std::atoi(argv[3]) : 0;
    if (mode == "after_exit") std::atexit(after_exit_calls);  // runs after the library's exit handlers
    itt = mvt_test::load_itt_api(argv[1]);
    if (mode == "none") return 0;
    if (mode == "ordered") ordered(count);
    else if (mode == "records") records();
    else if (mode == "registry_race") registry_race(count);
    else if (mode == "exit_race") exit_race(count);
    else if (mode == "after_exit") itt.task_end(nullptr);
    else if (mode == "names") names();
    else if (mode == "hostile") hostile();
    else return 2;
    return 0;
}
