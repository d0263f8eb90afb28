/* Two kinds of OpenMP task with dependences, 20 of each, that sleep 40 ms;
 * with the argument "slow" the second kind sleeps 80 ms. And 20 tasks
 * without dependences that sleep 10 ms. diff must flag the second kind
 * alone, at about +100 %, and nothing between two runs without the
 * argument. A loaded machine wakes a sleeping thread milliseconds late,
 * now and then or all through a run, and now and then stops a process for
 * tens of milliseconds: sleeps of tens of milliseconds keep the first below
 * the 10 % that diff tolerates, and twenty executions keep a stall or two
 * from hiding a doubling from the rank test. */
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void sleep_ms(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

static int cells[20];

static void __attribute__((noinline)) produce(int i) {
#pragma omp task depend(out : cells[i]) firstprivate(i)
    {
        sleep_ms(40);
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
    const long refine_ms = argc > 1 && strcmp(argv[1], "slow") == 0 ? 80 : 40;
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int i = 0; i < 20; ++i) {
        produce(i);
        refine(i, refine_ms);
#pragma omp task
        sleep_ms(10);
    }
    for (int i = 0; i < 20; ++i)
        if (cells[i] != i + 1) return 1;
    return 0;
}
