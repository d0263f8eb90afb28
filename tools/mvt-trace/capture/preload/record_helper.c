/* libmvt_record_helper.so: preloaded by `mvt-trace record` into the program
 * and everything it starts, it gives every process image a directory of its
 * own in the run directory and leaves there what the process was and where
 * its modules lay.
 *
 * The trace library truncates the files of the directory that MVA_DIR names,
 * so two images that share one MVA_DIR destroy each other's trace. A fresh
 * MVA_DIR has to be in place before the library loads, and a library linked
 * into the program loads before this helper's constructor runs. So the
 * directory of a new image is claimed by the image that starts it, in the
 * wrappers of the exec family and of posix_spawn below, and handed over in
 * the new environment; the new image's constructor takes it up, or claims
 * one itself when the image was started some other way (system(), popen()
 * and raw system calls do not come through these wrappers).
 *
 * Written in C with system calls only: it is loaded into shells and every
 * other program of the run, may run before any C++ runtime is up, and its
 * exec wrappers may run in a vfork() child, where the parent's memory is
 * shared and nothing may be allocated or locked. It never calls the trace
 * library. */

#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <pthread.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include "process_directory.h"

#define EXPORT __attribute__((visibility("default")))

extern char** environ;

/* The image's own state. A fork() child shares it until it execs; `owner`
 * tells the image that claimed the directory from such children. */
static struct {
    int active;
    pid_t owner;
    char run[PATH_MAX];
    char name[256];     /* NNN-label: the directory of this image's trace */
    char previous[256]; /* the directory before the library was last unloaded */
    int speculative;    /* claimed at an unload for a load that may never come */
    char helper[PATH_MAX];
} state;

static pthread_mutex_t segment_lock = PTHREAD_MUTEX_INITIALIZER;

typedef int (*execve_function)(const char*, char* const[], char* const[]);
typedef int (*fexecve_function)(int, char* const[], char* const[]);
typedef int (*spawn_function)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                              char* const[], char* const[]);
typedef int (*dlclose_function)(void*);

static execve_function real_execve, real_execvpe;
static fexecve_function real_fexecve;
static spawn_function real_posix_spawn, real_posix_spawnp;
static dlclose_function real_dlclose;

/* Looked up in the constructor, so that a wrapper running in a vfork()
 * child finds them bound; a call that comes before the constructor (from
 * another library's constructor) binds them then. */
static void bind_real_functions(void) {
    if (real_execve == NULL) real_execve = (execve_function)dlsym(RTLD_NEXT, "execve");
    if (real_execvpe == NULL) real_execvpe = (execve_function)dlsym(RTLD_NEXT, "execvpe");
    if (real_fexecve == NULL) real_fexecve = (fexecve_function)dlsym(RTLD_NEXT, "fexecve");
    if (real_posix_spawn == NULL) real_posix_spawn = (spawn_function)dlsym(RTLD_NEXT, "posix_spawn");
    if (real_posix_spawnp == NULL) real_posix_spawnp = (spawn_function)dlsym(RTLD_NEXT, "posix_spawnp");
    if (real_dlclose == NULL) real_dlclose = (dlclose_function)dlsym(RTLD_NEXT, "dlclose");
}

/* ---- writing without stdio ---- */

struct out_buffer {
    int fd;
    size_t used;
    char data[4096];
};

static void flush_out(struct out_buffer* out) {
    size_t done = 0;
    while (done < out->used) {
        const ssize_t n = write(out->fd, out->data + done, out->used - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (size_t)n;
    }
    out->used = 0;
}

static void put_bytes(struct out_buffer* out, const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (out->used == sizeof out->data) flush_out(out);
        out->data[out->used++] = bytes[i];
    }
}

static void put_text(struct out_buffer* out, const char* text) { put_bytes(out, text, strlen(text)); }

static void put_decimal(struct out_buffer* out, unsigned long long value) {
    char digits[24];
    size_t used = 0;
    mvt_append_decimal(digits, sizeof digits, &used, value);
    put_bytes(out, digits, used);
}

/* Arguments and paths may hold any byte but NUL; a line holds one value. */
static void put_escaped(struct out_buffer* out, char c) {
    static const char hex[] = "0123456789abcdef";
    const unsigned char u = (unsigned char)c;
    if (c == '\\') put_text(out, "\\\\");
    else if (c == '\n') put_text(out, "\\n");
    else if (u < 0x20 || u == 0x7f) {
        const char escape[4] = {'\\', 'x', hex[u >> 4], hex[u & 15]};
        put_bytes(out, escape, 4);
    } else put_bytes(out, &c, 1);
}

static unsigned long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (unsigned long long)t.tv_sec * 1000000000ULL + (unsigned long long)t.tv_nsec;
}

static void path_in_run(char* path, size_t capacity, const char* segment, const char* file) {
    size_t used = 0;
    path[0] = '\0';
    mvt_append_text(path, capacity, &used, state.run);
    mvt_append_text(path, capacity, &used, "/");
    mvt_append_text(path, capacity, &used, segment);
    if (file != NULL) {
        mvt_append_text(path, capacity, &used, "/");
        mvt_append_text(path, capacity, &used, file);
    }
}

static int open_in(const char* segment, const char* file, int flags) {
    char path[PATH_MAX + 300];
    path_in_run(path, sizeof path, segment, file);
    int fd;
    do fd = open(path, flags | O_WRONLY | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    return fd;
}

/* ---- what the files hold ---- */

/* The executable, file-backed mappings of /proc/self/maps, copied line by
 * line under one "snapshot WHEN TIME" line. */
static void write_modules(const char* segment, const char* when) {
    struct out_buffer out;
    out.fd = open_in(segment, MVT_MODULES_FILE, O_CREAT | O_APPEND);
    out.used = 0;
    if (out.fd < 0) return;
    if (lseek(out.fd, 0, SEEK_END) == 0) put_text(&out, "mvt-modules 1\n");
    put_text(&out, "snapshot ");
    put_text(&out, when);
    put_text(&out, " ");
    put_decimal(&out, now_ns());
    put_text(&out, "\n");
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps >= 0) {
        char chunk[4096];
        char line[PATH_MAX + 256];
        size_t length = 0;
        int overlong = 0;
        ssize_t got;
        while ((got = read(maps, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
            for (ssize_t i = 0; i < got; ++i) {
                if (chunk[i] != '\n') {
                    if (length < sizeof line) line[length++] = chunk[i];
                    else overlong = 1;
                    continue;
                }
                /* "start-end perms offset dev inode path": no field before
                 * the path holds a '/'. */
                const char* perms = memchr(line, ' ', length);
                const int executable = perms != NULL && perms + 3 < line + length && perms[3] == 'x';
                if (!overlong && executable && memchr(line, '/', length) != NULL) {
                    put_bytes(&out, line, length);
                    put_text(&out, "\n");
                }
                length = 0;
                overlong = 0;
            }
        }
        close(maps);
    }
    flush_out(&out);
    close(out.fd);
}

static void put_command_line(struct out_buffer* out) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length > 0) {
        put_text(out, "executable ");
        for (ssize_t i = 0; i < length; ++i) put_escaped(out, path[i]);
        put_text(out, "\n");
    }
    const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char chunk[4096];
    int at_start = 1;
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < got; ++i) {
            if (at_start) put_text(out, "arg ");
            at_start = chunk[i] == '\0';
            if (at_start) put_text(out, "\n");
            else put_escaped(out, chunk[i]);
        }
    }
    if (!at_start) put_text(out, "\n");
    close(fd);
}

/* The facts of a new segment, into a file this image has just created. */
static void write_facts(int fd, const char* relation, const char* related) {
    struct out_buffer out;
    out.fd = fd;
    out.used = 0;
    put_text(&out, "mvt-process 1\npid ");
    put_decimal(&out, (unsigned long long)getpid());
    put_text(&out, "\nparent ");
    put_decimal(&out, (unsigned long long)getppid());
    put_text(&out, "\n");
    if (relation[0] != '\0') {
        put_text(&out, relation);
        put_text(&out, " ");
        put_text(&out, related);
        put_text(&out, "\n");
    }
    put_text(&out, "started ");
    put_decimal(&out, now_ns());
    put_text(&out, "\n");
    put_command_line(&out);
    flush_out(&out);
}

/* "ended HOW TIME [NEXT]" and the like, appended to a segment's facts. */
static void append_fact(const char* segment, const char* what, const char* next) {
    struct out_buffer out;
    out.fd = open_in(segment, MVT_PROCESS_FILE, O_APPEND);
    out.used = 0;
    if (out.fd < 0) return;
    put_text(&out, what);
    put_text(&out, " ");
    put_decimal(&out, now_ns());
    if (next != NULL && next[0] != '\0') {
        put_text(&out, " ");
        put_text(&out, next);
    }
    put_text(&out, "\n");
    flush_out(&out);
    close(out.fd);
}

static int holds_trace_files(const char* segment) {
    char path[PATH_MAX + 300];
    path_in_run(path, sizeof path, segment, NULL);
    DIR* dir = opendir(path);
    if (dir == NULL) return 1; /* when in doubt, keep it */
    int found = 0;
    for (struct dirent* entry; !found && (entry = readdir(dir)) != NULL;)
        found = strncmp(entry->d_name, "_mvt.", 5) == 0;
    closedir(dir);
    return found;
}

/* A directory claimed when the library was unloaded and never used by a
 * later load goes again, and the segment before it is the one that ends. */
static int drop_unused_segment(void) {
    if (!state.speculative || holds_trace_files(state.name)) return 0;
    char path[PATH_MAX + 300];
    path_in_run(path, sizeof path, state.name, MVT_PROCESS_FILE);
    unlink(path);
    path_in_run(path, sizeof path, state.name, MVT_MODULES_FILE);
    unlink(path);
    path_in_run(path, sizeof path, state.name, NULL);
    rmdir(path);
    memcpy(state.name, state.previous, sizeof state.name);
    state.speculative = 0;
    return 1;
}

/* ---- this image's start and end ---- */

static void set_environment(void) {
    char value[PATH_MAX + 300];
    path_in_run(value, sizeof value, state.name, NULL);
    setenv(MVT_TRACE_DIRECTORY_VARIABLE, value, 1);
    size_t used = 0;
    value[0] = '\0';
    mvt_append_decimal(value, sizeof value, &used, (unsigned long long)getpid());
    mvt_append_text(value, sizeof value, &used, ":");
    mvt_append_text(value, sizeof value, &used, state.name);
    setenv(MVT_RECORD_SELF_VARIABLE, value, 1);
}

/* "PID:REST" into its parts; false when it is not that. */
static int split_pid(const char* text, long* pid, const char** rest) {
    if (text == NULL) return 0;
    char* end = NULL;
    *pid = strtol(text, &end, 10);
    if (end == text || *end != ':' || *pid <= 0) return 0;
    *rest = end + 1;
    return 1;
}

/* Takes up the directory handed over for this image, when there is one and
 * nobody took it before: the facts file, created exclusively, is the
 * token. Returns its descriptor, or -1. */
static int take_assigned(void) {
    const char* next = getenv(MVT_RECORD_NEXT_VARIABLE);
    if (next == NULL) return -1;
    long pid = 0;
    const char* name = NULL;
    int mine = 0;
    if (strncmp(next, "exec:", 5) == 0 && split_pid(next + 5, &pid, &name)) mine = pid == (long)getpid();
    else if (strncmp(next, "child:", 6) == 0 && split_pid(next + 6, &pid, &name)) mine = pid == (long)getppid();
    if (!mine || name[0] == '\0' || strchr(name, '/') != NULL || strlen(name) >= sizeof state.name) return -1;
    const int fd = open_in(name, MVT_PROCESS_FILE, O_CREAT | O_EXCL);
    if (fd >= 0) memcpy(state.name, name, strlen(name) + 1);
    return fd;
}

static void find_own_path(void) {
    Dl_info info;
    if (dladdr((void*)&find_own_path, &info) != 0 && info.dli_fname != NULL && info.dli_fname[0] == '/' &&
        strlen(info.dli_fname) < sizeof state.helper)
        memcpy(state.helper, info.dli_fname, strlen(info.dli_fname) + 1);
}

__attribute__((constructor)) static void start_recording(void) {
    bind_real_functions();
    const char* run = getenv(MVT_RECORD_RUN_VARIABLE);
    if (run == NULL || run[0] != '/' || strlen(run) >= sizeof state.run) return;
    memcpy(state.run, run, strlen(run) + 1);
    find_own_path();
    int fd = take_assigned();
    if (fd < 0) {
        char label[64];
        mvt_program_label(program_invocation_name, label, sizeof label);
        if (mvt_claim_process_directory(state.run, label, state.name, sizeof state.name) != 0) return;
        fd = open_in(state.name, MVT_PROCESS_FILE, O_CREAT | O_EXCL);
        if (fd < 0) return;
    }
    /* The image the environment came from: this pid before an exec, or an
     * ancestor that started this process. */
    long from = 0;
    const char* from_name = "";
    const char* relation = "";
    if (split_pid(getenv(MVT_RECORD_SELF_VARIABLE), &from, &from_name) && from_name[0] != '\0') {
        if (from == (long)getpid()) relation = "exec-of";
        else if (from == (long)getppid()) relation = "child-of";
        else relation = "descendant-of";
    }
    write_facts(fd, relation, from_name);
    close(fd);
    write_modules(state.name, "start");
    set_environment();
    unsetenv(MVT_RECORD_NEXT_VARIABLE);
    state.owner = getpid();
    state.active = 1;
}

__attribute__((destructor)) static void end_recording(void) {
    if (!state.active || getpid() != state.owner) return;
    pthread_mutex_lock(&segment_lock);
    if (!drop_unused_segment()) write_modules(state.name, "exit");
    append_fact(state.name, "ended exit", NULL);
    state.active = 0;
    pthread_mutex_unlock(&segment_lock);
}

/* ---- the trace library unloaded: a later load needs a fresh directory ---- */

static int is_trace_library(const char* path) {
    const char* base = strrchr(path, '/');
    return strncmp(base != NULL ? base + 1 : path, "libmvt_xml.so", 13) == 0;
}

static void begin_segment_after_unload(void) {
    pthread_mutex_lock(&segment_lock);
    drop_unused_segment();
    const char* dash = strchr(state.name, '-');
    char next[sizeof state.name];
    if (mvt_claim_process_directory(state.run, dash != NULL ? dash + 1 : "program", next, sizeof next) == 0) {
        const int fd = open_in(next, MVT_PROCESS_FILE, O_CREAT | O_EXCL);
        if (fd >= 0) {
            write_modules(state.name, "unload");
            append_fact(state.name, "ended unload", next);
            write_facts(fd, "reload-of", state.name);
            close(fd);
            memcpy(state.previous, state.name, sizeof state.name);
            memcpy(state.name, next, sizeof state.name);
            state.speculative = 1;
            write_modules(state.name, "start");
            set_environment();
        }
    }
    pthread_mutex_unlock(&segment_lock);
}

/* dlclose rather than dlopen is wrapped: glibc's dlopen finds a library by
 * name through its caller's RUNPATH and $ORIGIN, and a wrapper would make
 * this helper the caller of every dlopen of the program. */
EXPORT int dlclose(void* handle) {
    bind_real_functions();
    char unloaded[PATH_MAX];
    unloaded[0] = '\0';
    struct link_map* map = NULL;
    if (state.active && getpid() == state.owner && dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 &&
        map != NULL && map->l_name != NULL && is_trace_library(map->l_name) && strlen(map->l_name) < sizeof unloaded)
        memcpy(unloaded, map->l_name, strlen(map->l_name) + 1);
    const int result = real_dlclose(handle);
    if (result == 0 && unloaded[0] != '\0') {
        void* still = dlopen(unloaded, RTLD_LAZY | RTLD_NOLOAD);
        if (still != NULL) real_dlclose(still);
        else begin_segment_after_unload();
    }
    return result;
}

/* ---- handing a directory to a new image ---- */

struct exec_plan {
    int claimed;
    int by_owner; /* an exec of this very image, not of a fork() child */
    char name[256];
    char** environment;
    size_t mapped;
};

static const char* value_of(char* const* environment, const char* variable) {
    const size_t length = strlen(variable);
    for (char* const* entry = environment; entry != NULL && *entry != NULL; ++entry)
        if (strncmp(*entry, variable, length) == 0 && (*entry)[length] == '=') return *entry + length + 1;
    return NULL;
}

static int names_variable(const char* entry, const char* variable) {
    const size_t length = strlen(variable);
    return strncmp(entry, variable, length) == 0 && entry[length] == '=';
}

static int preloads_helper(const char* preload) {
    const size_t length = strlen(state.helper);
    for (const char* at = preload; at != NULL && *at != '\0';) {
        if (strncmp(at, state.helper, length) == 0 && (at[length] == '\0' || at[length] == ':' || at[length] == ' '))
            return 1;
        at = strpbrk(at, ": ");
        if (at != NULL) ++at;
    }
    return 0;
}

/* Writes "NAME=" and the pieces into `*cursor`, returns where it starts. */
static char* put_variable(char** cursor, const char* name, const char* a, const char* b, const char* c) {
    char* start = *cursor;
    const char* pieces[] = {name, "=", a, b, c};
    for (size_t i = 0; i < sizeof pieces / sizeof *pieces; ++i) {
        if (pieces[i] == NULL) continue;
        const size_t length = strlen(pieces[i]);
        memcpy(*cursor, pieces[i], length);
        *cursor += length;
    }
    *(*cursor)++ = '\0';
    return start;
}

/* Claims the new image's directory and builds its environment: the given
 * one with the hand-over variables set and the helper kept in LD_PRELOAD,
 * so that a program that passes an environment of its own stays recorded.
 * The memory comes from mmap, which is safe after vfork(). Returns the
 * given environment unchanged when the helper is off or nothing could be
 * claimed. */
static char* const* prepare_exec(struct exec_plan* plan, const char* program, char* const* environment,
                                 int spawned) {
    plan->claimed = 0;
    plan->environment = NULL;
    if (!state.active) return environment;
    char label[64];
    mvt_program_label(program, label, sizeof label);
    if (mvt_claim_process_directory(state.run, label, plan->name, sizeof plan->name) != 0) return environment;
    plan->claimed = 1;
    plan->by_owner = getpid() == state.owner && !spawned;

    size_t count = 0;
    for (char* const* entry = environment; entry != NULL && *entry != NULL; ++entry) ++count;
    const char* preload = value_of(environment, "LD_PRELOAD");
    const size_t strings = 3 * sizeof state.run + 4 * sizeof state.name + sizeof state.helper + 256 +
                           (preload != NULL ? strlen(preload) : 0);
    plan->mapped = (count + 8) * sizeof(char*) + strings;
    void* memory = mmap(NULL, plan->mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        plan->mapped = 0;
        return environment;
    }
    char** out = (char**)memory;
    char* cursor = (char*)(out + count + 8);
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const char* entry = environment[i];
        if (names_variable(entry, MVT_TRACE_DIRECTORY_VARIABLE) || names_variable(entry, MVT_RECORD_NEXT_VARIABLE) ||
            names_variable(entry, MVT_RECORD_SELF_VARIABLE) || names_variable(entry, MVT_RECORD_RUN_VARIABLE) ||
            names_variable(entry, "LD_PRELOAD"))
            continue;
        out[n++] = environment[i];
    }
    char number[24];
    size_t used = 0;
    mvt_append_decimal(number, sizeof number, &used, (unsigned long long)getpid());
    char owner[24];
    used = 0;
    mvt_append_decimal(owner, sizeof owner, &used, (unsigned long long)state.owner);
    char directory[PATH_MAX + 300];
    path_in_run(directory, sizeof directory, plan->name, NULL);
    out[n++] = put_variable(&cursor, MVT_TRACE_DIRECTORY_VARIABLE, directory, NULL, NULL);
    out[n++] = put_variable(&cursor, MVT_RECORD_RUN_VARIABLE, state.run, NULL, NULL);
    char kind[300];
    used = 0;
    kind[0] = '\0';
    mvt_append_text(kind, sizeof kind, &used, spawned ? "child:" : "exec:");
    mvt_append_text(kind, sizeof kind, &used, number);
    mvt_append_text(kind, sizeof kind, &used, ":");
    out[n++] = put_variable(&cursor, MVT_RECORD_NEXT_VARIABLE, kind, plan->name, NULL);
    out[n++] = put_variable(&cursor, MVT_RECORD_SELF_VARIABLE, owner, ":", state.name);
    if (preload != NULL && (state.helper[0] == '\0' || preloads_helper(preload)))
        out[n++] = put_variable(&cursor, "LD_PRELOAD", preload, NULL, NULL);
    else if (state.helper[0] != '\0')
        out[n++] = put_variable(&cursor, "LD_PRELOAD", state.helper, preload != NULL ? ":" : NULL, preload);
    out[n] = NULL;
    plan->environment = out;

    if (plan->by_owner) {
        write_modules(state.name, "exec");
        append_fact(state.name, "ended exec", plan->name);
    }
    return out;
}

/* The image did not start: its directory goes, and this image goes on. */
static void exec_failed(struct exec_plan* plan, int error) {
    if (plan->claimed) {
        char path[PATH_MAX + 300];
        path_in_run(path, sizeof path, plan->name, NULL);
        rmdir(path);
        if (plan->by_owner) {
            char code[24];
            size_t used = 0;
            mvt_append_decimal(code, sizeof code, &used, (unsigned long long)error);
            append_fact(state.name, "exec-failed", code);
        }
    }
    if (plan->environment != NULL) munmap(plan->environment, plan->mapped);
}

EXPORT int execve(const char* path, char* const argv[], char* const envp[]) {
    bind_real_functions();
    struct exec_plan plan;
    const int result = real_execve(path, argv, prepare_exec(&plan, path, envp, 0));
    const int error = errno;
    exec_failed(&plan, error);
    errno = error;
    return result;
}

EXPORT int execvpe(const char* file, char* const argv[], char* const envp[]) {
    bind_real_functions();
    struct exec_plan plan;
    const int result = real_execvpe(file, argv, prepare_exec(&plan, file, envp, 0));
    const int error = errno;
    exec_failed(&plan, error);
    errno = error;
    return result;
}

EXPORT int fexecve(int fd, char* const argv[], char* const envp[]) {
    bind_real_functions();
    char link[64];
    size_t used = 0;
    link[0] = '\0';
    mvt_append_text(link, sizeof link, &used, "/proc/self/fd/");
    mvt_append_decimal(link, sizeof link, &used, (unsigned long long)fd);
    char target[PATH_MAX];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    target[length > 0 ? length : 0] = '\0';
    struct exec_plan plan;
    const int result = real_fexecve(fd, argv, prepare_exec(&plan, target, envp, 0));
    const int error = errno;
    exec_failed(&plan, error);
    errno = error;
    return result;
}

EXPORT int execv(const char* path, char* const argv[]) { return execve(path, argv, environ); }

EXPORT int execvp(const char* file, char* const argv[]) { return execvpe(file, argv, environ); }

/* The list forms gather their arguments on the stack, as glibc's do. */
#define GATHER_ARGUMENTS(first, extra)                       \
    size_t count = 1;                                        \
    va_list counting;                                        \
    va_start(counting, first);                               \
    while (va_arg(counting, const char*) != NULL) ++count;   \
    va_end(counting);                                        \
    char* argv[count + 1];                                   \
    argv[0] = (char*)(first);                                \
    va_list arguments;                                       \
    va_start(arguments, first);                              \
    for (size_t i = 1; i <= count; ++i) argv[i] = va_arg(arguments, char*); \
    extra;                                                   \
    va_end(arguments)

EXPORT int execl(const char* path, const char* arg, ...) {
    GATHER_ARGUMENTS(arg, (void)0);
    return execve(path, argv, environ);
}

EXPORT int execlp(const char* file, const char* arg, ...) {
    GATHER_ARGUMENTS(arg, (void)0);
    return execvpe(file, argv, environ);
}

EXPORT int execle(const char* path, const char* arg, ...) {
    char* const* envp;
    GATHER_ARGUMENTS(arg, envp = va_arg(arguments, char* const*));
    return execve(path, argv, envp);
}

static int spawn(spawn_function real, pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    struct exec_plan plan;
    const int result = real(pid, path, actions, attributes, argv, prepare_exec(&plan, path, envp, 1));
    if (result != 0) exec_failed(&plan, result);
    else if (plan.environment != NULL) munmap(plan.environment, plan.mapped);
    return result;
}

EXPORT int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    bind_real_functions();
    return spawn(real_posix_spawn, pid, path, actions, attributes, argv, envp);
}

EXPORT int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    bind_real_functions();
    return spawn(real_posix_spawnp, pid, file, actions, attributes, argv, envp);
}
