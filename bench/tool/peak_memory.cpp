// peak_memory REPORT COMMAND [ARGS...]: runs COMMAND and writes to the file
// REPORT its peak resident memory in KiB and its processor time (user and
// system) in seconds; exits with COMMAND's status. A command started straight
// from a script's interpreter would be charged the interpreter's memory:
// Linux keeps a process's highest resident size across exec, and a fork
// starts with its parent's pages. Started from this small program, it is
// charged its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPORT COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) < 0) {
        std::perror("peak_memory");
        return 2;
    }
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    const double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::fprintf(report, "%ld %.6f\n", usage.ru_maxrss, seconds);
    std::fclose(report);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
