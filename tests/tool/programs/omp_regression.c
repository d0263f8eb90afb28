/* Two kinds of OpenMP task with dependences, 10 of each, that sleep 50 ms;
 * with the argument "slow" the second kind sleeps 100 ms. And 10 tasks
 * without dependences that sleep 10 ms. diff must flag the second kind
 * alone, at about +100 %, and nothing between two runs without the
 * argument. A loaded machine wakes a sleeping thread milliseconds late,
 * now and then or in a whole run: sleeps of tens of milliseconds keep that
 * below the 10 % that diff tolerates. */
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void sleep_ms(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

static int cells[10];

static void __attribute__((noinline)) produce(int i) {
#pragma omp task depend(out : cells[i]) firstprivate(i)
    {
        sleep_ms(50);
        cells[i] = i;
    }
}

static void __attribute__((noinline)) refine(int i, long ms) {
#pragma omp task depend(inout : cells[i]) firstprivate(i, ms)
    {
        sleep_ms(ms);
        cells[i] += 1;
    }
}

int main(int argc, char** argv) {
    /* A thread with no task to run would spin for a while, taking a core
     * from the thread that wakes from its sleep. */
    setenv("OMP_WAIT_POLICY", "passive", 0);
    const long refine_ms = argc > 1 && strcmp(argv[1], "slow") == 0 ? 100 : 50;
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int i = 0; i < 10; ++i) {
        produce(i);
        refine(i, refine_ms);
#pragma omp task
        sleep_ms(10);
    }
    for (int i = 0; i < 10; ++i)
        if (cells[i] != i + 1) return 1;
    return 0;
}
