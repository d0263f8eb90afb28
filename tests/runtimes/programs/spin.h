/* Busy for `ns` nanoseconds of the monotonic clock: a task body that takes
 * a known time without sleeping. */
#include <time.h>

static void spin(long ns) {
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    do clock_gettime(CLOCK_MONOTONIC, &now);
    while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < ns);
}
