#include "capture/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mvt_trace {

namespace {

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> out;
    for (std::string& word : words) out.push_back(word.data());
    out.push_back(nullptr);
    return out;
}

// This process's environment with `added` ("NAME=value") replacing
// variables of the same names.
std::vector<std::string> merged_environment(const std::vector<std::string>& added) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        bool replaced = false;
        for (const std::string& a : added) replaced = replaced || a.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced) merged.push_back(variable);
    }
    merged.insert(merged.end(), added.begin(), added.end());
    return merged;
}

class ignored_terminal_signals {
public:
    ignored_terminal_signals() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGINT, &ignore, &interrupt_);
        ::sigaction(SIGQUIT, &ignore, &quit_);
    }
    ~ignored_terminal_signals() {
        ::sigaction(SIGINT, &interrupt_, nullptr);
        ::sigaction(SIGQUIT, &quit_, nullptr);
    }
    ignored_terminal_signals(const ignored_terminal_signals&) = delete;
    ignored_terminal_signals& operator=(const ignored_terminal_signals&) = delete;

    const struct sigaction& interrupt() const { return interrupt_; }
    const struct sigaction& quit() const { return quit_; }

private:
    struct sigaction interrupt_ {};
    struct sigaction quit_ {};
};

}  // namespace

int program_outcome::shell_status() const {
    if (!started) return start_error == ENOENT ? 127 : 126;
    return exited ? exit_status : 128 + signal;
}

std::string program_outcome::description() const {
    if (!started) return std::string("could not be started: ") + std::strerror(start_error);
    if (exited) return "exited with status " + std::to_string(exit_status);
    const char* name = ::sigabbrev_np(signal);
    return std::string("was killed by ") + (name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal));
}

program_outcome run_program(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    program_outcome outcome;
    std::vector<std::string> words = argv;
    std::vector<std::string> variables = merged_environment(environment);
    std::vector<char*> word_pointers = pointers(words);
    std::vector<char*> variable_pointers = pointers(variables);
    // The child reports a failed exec through a pipe that a successful exec
    // closes, so "not found" is told apart from a program that exits 127.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        outcome.start_error = errno;
        return outcome;
    }
    ignored_terminal_signals shielded;
    const pid_t child = ::fork();
    if (child == 0) {
        ::sigaction(SIGINT, &shielded.interrupt(), nullptr);
        ::sigaction(SIGQUIT, &shielded.quit(), nullptr);
        ::close(report[0]);
        ::execvpe(word_pointers[0], word_pointers.data(), variable_pointers.data());
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    if (child < 0) {
        outcome.start_error = errno;
        ::close(report[0]);
        return outcome;
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof error)) {
        outcome.start_error = error;
        return outcome;
    }
    outcome.started = true;
    outcome.exited = WIFEXITED(status);
    outcome.exit_status = outcome.exited ? WEXITSTATUS(status) : 0;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

}  // namespace mvt_trace
