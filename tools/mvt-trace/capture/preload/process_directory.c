#include "process_directory.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

void mvt_append_text(char* buffer, size_t capacity, size_t* used, const char* text) {
    if (capacity == 0) return;
    while (*text != '\0' && *used + 1 < capacity) buffer[(*used)++] = *text++;
    buffer[*used] = '\0';
}

void mvt_append_decimal(char* buffer, size_t capacity, size_t* used, unsigned long long value) {
    char digits[24];
    size_t n = sizeof digits;
    digits[--n] = '\0';
    do {
        digits[--n] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    mvt_append_text(buffer, capacity, used, digits + n);
}

void mvt_program_label(const char* path, char* label, size_t capacity) {
    const char* base = path != NULL ? strrchr(path, '/') : NULL;
    base = base != NULL ? base + 1 : (path != NULL ? path : "");
    size_t used = 0;
    for (; *base != '\0' && used < 40 && used + 1 < capacity; ++base) {
        const char c = *base;
        const int plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '_' || c == '+' || c == '-';
        label[used++] = plain ? c : '_';
    }
    if (capacity > 0) label[used] = '\0';
    if (used == 0) {
        used = 0;
        mvt_append_text(label, capacity, &used, "program");
    }
}

/* The run's next number, taken under an exclusive lock on the sequence
 * file, so that numbers follow the order in which images claimed them even
 * when several processes start at once. */
static int next_number(const char* run, unsigned long long* number) {
    char path[4096];
    size_t used = 0;
    path[0] = '\0';
    mvt_append_text(path, sizeof path, &used, run);
    mvt_append_text(path, sizeof path, &used, "/" MVT_SEQUENCE_FILE);
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            close(fd);
            return error;
        }
    }
    char text[24] = {0};
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    unsigned long long last = 0;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i) last = last * 10 + (unsigned)(text[i] - '0');
    *number = last + 1;
    char out[24];
    size_t length = 0;
    mvt_append_decimal(out, sizeof out, &length, *number);
    mvt_append_text(out, sizeof out, &length, "\n");
    int error = 0;
    if (pwrite(fd, out, length, 0) != (ssize_t)length) error = errno != 0 ? errno : EIO;
    close(fd); /* releases the lock */
    return error;
}

int mvt_claim_process_directory(const char* run, const char* label, char* name, size_t capacity) {
    /* mkdir is the claim: a name that exists already (made by hand) only
     * costs a number, never a shared directory. */
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned long long number = 0;
        const int error = next_number(run, &number);
        if (error != 0) return error;
        size_t used = 0;
        if (capacity > 0) name[0] = '\0';
        if (number < 100) mvt_append_text(name, capacity, &used, number < 10 ? "00" : "0");
        mvt_append_decimal(name, capacity, &used, number);
        mvt_append_text(name, capacity, &used, "-");
        mvt_append_text(name, capacity, &used, label);
        char path[4096];
        size_t length = 0;
        path[0] = '\0';
        mvt_append_text(path, sizeof path, &length, run);
        mvt_append_text(path, sizeof path, &length, "/");
        mvt_append_text(path, sizeof path, &length, name);
        if (mkdir(path, 0777) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}
