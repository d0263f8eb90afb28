/* Two kinds of OpenMP task with dependences, 16 of each, that sleep 4 ms;
 * with the argument "slow" the second kind sleeps 8 ms. And 16 tasks without
 * dependences that sleep 1 ms. diff must flag the second kind alone, at
 * about +100 %, and nothing between two runs without the argument. */
#include <string.h>
#include <time.h>

static void sleep_ms(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

static int cells[16];

static void __attribute__((noinline)) produce(int i) {
#pragma omp task depend(out : cells[i]) firstprivate(i)
    {
        sleep_ms(4);
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
    const long refine_ms = argc > 1 && strcmp(argv[1], "slow") == 0 ? 8 : 4;
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int i = 0; i < 16; ++i) {
        produce(i);
        refine(i, refine_ms);
#pragma omp task
        sleep_ms(1);
    }
    for (int i = 0; i < 16; ++i)
        if (cells[i] != i + 1) return 1;
    return 0;
}
