// Cost of tracing a task-heavy OpenMP program through the tool.
//
//   ompt_bench [N [THREADS [RUNS]]]
//
// Runs fib_tasks N untraced and traced (libomp loading libmvt_xml.so through
// OMP_TOOL_LIBRARIES) RUNS times each, keeping the fastest run of each, and
// measures in the same run what one raw write(2) of a trace line costs. The
// writer hands every line to the kernel on its own, so lines per record times
// that cost is the floor a record cannot go below; the report sets the traced
// cost per record against it.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("OMP_TOOL_LIBRARIES=", 0) != 0 && entry.rfind("MVA_DIR=", 0) != 0 &&
            entry.rfind("OMP_NUM_THREADS=", 0) != 0) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Wall time of one run of the program, or a negative number on failure.
double timed_run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = clock_type::now();
    pid_t pid = 0;
    int status = 0;
    const bool ok = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0 &&
                    waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const double elapsed = seconds_since(start);
    posix_spawn_file_actions_destroy(&actions);
    return ok ? elapsed : -1;
}

struct trace_size {
    unsigned long long records = 0, lines = 0, bytes = 0;
};

trace_size measure_trace(const fs::path& dir) {
    trace_size size;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            ++size.lines;
            size.bytes += line.size() + 1;
            size.records += line == "<record>";
        }
    }
    return size;
}

// Seconds per write(2) of one line of the given length into a fresh file.
double raw_write_cost(const fs::path& dir, size_t line_length) {
    const std::string line = "<field>" + std::string(line_length > 16 ? line_length - 16 : 1, '7') + "</field>\n";
    const int fd = ::open((dir / "raw_lines").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int writes = 200000;
    const auto start = clock_type::now();
    for (int i = 0; i < writes && fd >= 0; ++i) {
        if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            break;
        }
    }
    const double elapsed = seconds_since(start);
    if (fd >= 0) ::close(fd);
    return elapsed / writes;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string n = argc > 1 ? argv[1] : "18";
    const std::string threads = argc > 2 ? argv[2] : "1";
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const fs::path work = fs::temp_directory_path() / ("mvt_ompt_bench." + std::to_string(::getpid()));
    fs::create_directories(work);

    const std::vector<std::string> program = {FIB_TASKS_PROGRAM, n};
    const std::string threads_env = "OMP_NUM_THREADS=" + threads;
    double untraced = 1e9, traced = 1e9;
    trace_size size;
    for (int r = 0; r < runs; ++r) {
        const double plain = timed_run(program, environment_with({threads_env}));
        const fs::path dir = work / ("trace." + std::to_string(r));
        fs::create_directories(dir);
        const double with_tool = timed_run(
            program, environment_with({threads_env, "MVA_DIR=" + dir.string(),
                                       std::string("OMP_TOOL_LIBRARIES=") + MVT_LIB_PATH}));
        if (plain < 0 || with_tool < 0) {
            std::fprintf(stderr, "ompt_bench: a run of %s failed\n", FIB_TASKS_PROGRAM);
            return 1;
        }
        untraced = std::min(untraced, plain);
        if (with_tool < traced) {
            traced = with_tool;
            size = measure_trace(dir);
        }
        fs::remove_all(dir);
    }
    const double line_length = size.lines ? double(size.bytes) / size.lines : 0;
    const double write_cost = raw_write_cost(work, static_cast<size_t>(line_length + 0.5));
    fs::remove_all(work);

    const double lines_per_record = size.records ? double(size.lines) / size.records : 0;
    const double cost_per_record = size.records ? (traced - untraced) / size.records : 0;
    const double floor_per_record = lines_per_record * write_cost;
    std::printf("fib_tasks %s on %s thread(s), fastest of %d runs\n", n.c_str(), threads.c_str(), runs);
    std::printf("  untraced                 %10.3f ms\n", untraced * 1e3);
    std::printf("  traced                   %10.3f ms   (traced/untraced %.2fx)\n", traced * 1e3,
                traced / untraced);
    std::printf("  trace                    %10llu records, %llu lines (%.1f lines/record, %.1f bytes/line)\n",
                size.records, size.lines, lines_per_record, line_length);
    std::printf("  raw write(2) of a line   %10.1f ns\n", write_cost * 1e9);
    std::printf("  floor per record         %10.1f ns   (one write(2) per line)\n", floor_per_record * 1e9);
    std::printf("  traced cost per record   %10.1f ns   (%.2fx the floor)\n", cost_per_record * 1e9,
                floor_per_record > 0 ? cost_per_record / floor_per_record : 0.0);
    return 0;
}
