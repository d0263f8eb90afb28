// What a record costs against the floor that the one-write-per-line contract
// sets: the same lines written with one raw write(2) each, to a file in the
// same directory, in the same run. Also the std::ofstream-with-flush way, for
// comparison, and the allocations made on the recording path.
//
// Run without MVA_DIR and it re-executes itself with a fresh trace directory
// under TMPDIR (or /tmp), since the library settles its directory at load.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <mvt_xml/itt.h>

namespace {

std::atomic<long> allocations{0};

// The lines of one task_begin record (17) and one task_end record (5), as the
// library writes them for a typical OpenMP task.
std::vector<std::string> task_lines() {
    const char* id = "<compound_field>\n<field>1234567</field>\n<field>0</field>\n<field>0</field>\n</compound_field>\n";
    std::string begin = std::string("<record>\n<field>task_begin</field>\n<field>1796489813233444206</field>\n") +
                        "<field>94039607742912</field>\n" + id + id + "<field>94039607743504</field>\n<field>0</field>\n</record>\n";
    std::string end = "<record>\n<field>task_end</field>\n<field>1796489813233444206</field>\n<field>94039607742912</field>\n</record>\n";
    std::vector<std::string> lines;
    for (const std::string& block : {begin, end}) {
        size_t start = 0;
        for (size_t nl = block.find('\n'); nl != std::string::npos; nl = block.find('\n', start)) {
            lines.push_back(block.substr(start, nl - start + 1));
            start = nl + 1;
        }
    }
    return lines;
}

std::string scratch_path(const char* name) { return std::string(std::getenv("MVA_DIR")) + "/" + name; }

void raw_write_per_line(benchmark::State& state) {
    std::vector<std::string> lines = task_lines();
    int fd = open(scratch_path("raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (auto _ : state)
        for (const std::string& line : lines) benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
    close(fd);
    state.SetItemsProcessed(state.iterations() * 2);
}

void ofstream_flush_per_line(benchmark::State& state) {
    std::vector<std::string> lines = task_lines();
    std::ofstream out(scratch_path("ofstream"));
    for (auto _ : state)
        for (const std::string& line : lines) out << line << std::flush;
    state.SetItemsProcessed(state.iterations() * 2);
}

void itt_task_begin_end(benchmark::State& state) {
    static __itt_domain* domain = __itt_domain_create("bench");
    static __itt_string_handle* name = __itt_string_handle_create("task");
    __itt_task_end(domain);  // the thread's first record takes its writer
    long before = allocations.load();
    unsigned long long n = 0;
    for (auto _ : state) {
        __itt_task_begin(domain, __itt_id{++n, 0, 0}, __itt_null, name);
        __itt_task_end(domain);
    }
    state.counters["allocs_per_record"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations() * 2);
    state.SetItemsProcessed(state.iterations() * 2);
}

// Both ways in alternating batches of the same run, so that drift in the
// machine's load hits both alike; the counters give the ratio directly.
void interleaved_ratio(benchmark::State& state) {
    static __itt_domain* domain = __itt_domain_create("bench");
    static __itt_string_handle* name = __itt_string_handle_create("task");
    std::vector<std::string> lines = task_lines();
    int fd = open(scratch_path("raw_interleaved").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    __itt_task_end(domain);
    const int batch = 50;
    double raw_ns = 0, itt_ns = 0;
    unsigned long long n = 0;
    auto now = [] {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
    };
    for (auto _ : state) {
        double start = now();
        for (int i = 0; i < batch; ++i)
            for (const std::string& line : lines) benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
        double middle = now();
        for (int i = 0; i < batch; ++i) {
            __itt_task_begin(domain, __itt_id{++n, 0, 0}, __itt_null, name);
            __itt_task_end(domain);
        }
        raw_ns += middle - start;
        itt_ns += now() - middle;
    }
    close(fd);
    state.counters["raw_ns_per_pair"] = raw_ns / static_cast<double>(state.iterations() * batch);
    state.counters["itt_ns_per_pair"] = itt_ns / static_cast<double>(state.iterations() * batch);
    state.counters["itt_over_raw"] = itt_ns / raw_ns;
}

BENCHMARK(raw_write_per_line)->UseRealTime();
BENCHMARK(ofstream_flush_per_line)->UseRealTime();
BENCHMARK(itt_task_begin_end)->UseRealTime();
BENCHMARK(itt_task_begin_end)->UseRealTime()->Threads(2);
BENCHMARK(interleaved_ratio)->UseRealTime();

// Keeps each run's real time per iteration so the ratios can be printed.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void ensure_trace_directory(char** argv) {
    if (std::getenv("MVA_DIR")) return;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/mvt_bench_XXXXXX";
    if (!mkdtemp(dir.data())) std::exit(1);
    setenv("MVA_DIR", dir.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::exit(1);
}

}  // namespace

// Counts the allocations of the whole process, the library's included.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
    ensure_trace_directory(argv);
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double floor = reporter.times["raw_write_per_line/real_time"];
    if (floor > 0) {
        std::printf("\nfloor: %.0f ns for the 22 lines of task_begin + task_end (%.0f ns per raw write)\n", floor,
                    floor / 22);
        for (const char* name : {"ofstream_flush_per_line/real_time", "itt_task_begin_end/real_time"})
            std::printf("%-40s %.3fx the floor\n", name, reporter.times[name] / floor);
    }
    std::string cleanup = std::string("rm -rf ") + std::getenv("MVA_DIR");
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
