#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace mvt_test {

namespace {

std::vector<std::string> build_environment(const child_options& options) {
    std::vector<std::string> env;
    auto overridden = [&](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('='));
        for (const std::string& u : options.unset_env)
            if (u == name) return true;
        for (const std::string& s : options.set_env)
            if (s.substr(0, s.find('=')) == name) return true;
        return false;
    };
    for (char** e = environ; *e; ++e)
        if (!overridden(*e)) env.emplace_back(*e);
    for (const std::string& s : options.set_env) env.push_back(s);
    return env;
}

std::vector<char*> as_argv(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Drains both pipes until they close or the deadline passes.
bool collect_output(int out_fd, int err_fd, child_result& result, int timeout_seconds) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long elapsed_ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        long remaining = timeout_seconds * 1000L - elapsed_ms;
        if (remaining <= 0) return false;
        int ready = poll(fds, 2, static_cast<int>(remaining));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

}  // namespace

child_result run_child(const std::vector<std::string>& argv, const child_options& options) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = build_environment(options);
    std::vector<char*> c_args = as_argv(args);
    std::vector<char*> c_env = as_argv(env);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        execve(c_args[0], c_args.data(), c_env.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    child_result result;
    bool finished = collect_output(out_pipe[0], err_pipe[0], result, options.timeout_seconds);
    if (!finished) kill(pid, SIGKILL);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace mvt_test
