// Linked against libmvt_xml, so the library is set up before any preloaded
// library's constructor runs. Records id_create {stage, k, 0}, N of them:
//
//   linked_exec N first     records, spawns "linked_exec N spawned" and waits,
//                           then execs "linked_exec N last"
//   linked_exec N spawned|last   records

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <mvt_xml/itt.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const unsigned long long n = std::strtoull(argv[1], nullptr, 10);
    const std::string stage = argv[2];
    const unsigned long long number = stage == "first" ? 1 : stage == "spawned" ? 2 : 3;
    for (unsigned long long k = 0; k < n; ++k) __itt_id_create(nullptr, {number, k, 0});
    if (stage != "first") return 0;
    char spawned[] = "spawned", last[] = "last";
    char* spawn_argv[] = {argv[0], argv[1], spawned, nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, spawn_argv, environ) != 0) return 3;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 4;
    char* exec_argv[] = {argv[0], argv[1], last, nullptr};
    execv(argv[0], exec_argv);
    return 5;
}
