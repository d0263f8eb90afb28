#include "child_process.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace mvt_test {

namespace {

std::vector<char*> as_argv(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Everything written to an in-memory file, from its start.
std::string contents(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

}  // namespace

child_result run_child(const std::vector<std::string>& argv, const child_options& options) {
    std::vector<std::string> args = argv, env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('='));
        auto same = [&](const std::string& s) { return s.substr(0, s.find('=')) == name; };
        if (std::none_of(options.unset_env.begin(), options.unset_env.end(), same) &&
            std::none_of(options.set_env.begin(), options.set_env.end(), same))
            env.push_back(entry);
    }
    env.insert(env.end(), options.set_env.begin(), options.set_env.end());
    std::vector<char*> c_args = as_argv(args), c_env = as_argv(env);

    // Output goes to in-memory files rather than pipes: no reader to keep up,
    // and descendants that keep the descriptors open cannot hold the test up.
    const int out = memfd_create("stdout", MFD_CLOEXEC), err = memfd_create("stderr", MFD_CLOEXEC);
    if (out < 0 || err < 0) throw std::runtime_error("memfd_create failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        execve(c_args[0], c_args.data(), c_env.data());
        _exit(127);
    }
    int status = 0;
    for (long waited_ms = 0; waitpid(pid, &status, WNOHANG) == 0; waited_ms += 2) {
        if (waited_ms == options.timeout_seconds * 1000L) kill(pid, SIGKILL);
        usleep(2000);
    }
    child_result result;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = contents(out);
    result.err = contents(err);
    return result;
}

}  // namespace mvt_test
