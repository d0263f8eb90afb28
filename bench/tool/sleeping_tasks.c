/* sleeping_tasks [HEAVY_FACTOR]: OpenMP tasks with dependences whose bodies
 * sleep, so that how many run at once depends on the number of threads and
 * not on the machine's cores. LAYERS layers of WIDTH tasks; each task reads
 * two results of the layer before and writes its own; every fourth layer
 * ends in one task that reads the whole layer. Even places are light
 * tasks, odd places heavy ones, whose sleep HEAVY_FACTOR divides: the run
 * that --faster predicts. One thread creates every task up front.
 * Prints the checksum, which does not depend on the schedule. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { LAYERS = 8, WIDTH = 12 }; /* spawn_combine names the WIDTH places */

static double heavy_factor = 1.0;

static void sleep_us(long us) {
    struct timespec left = {us / 1000000, (us % 1000000) * 1000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

/* Each construct in a function of its own, so that its label names it. */
__attribute__((noinline)) static void spawn_light(long* value, const long* a, const long* b, int place) {
#pragma omp task depend(in : a[0], b[0]) depend(out : value[0]) firstprivate(place)
    {
        sleep_us(3000 + 500L * (place % 3));
        *value = *a + *b + place;
    }
}

__attribute__((noinline)) static void spawn_heavy(long* value, const long* a, const long* b, int place) {
#pragma omp task depend(in : a[0], b[0]) depend(out : value[0]) firstprivate(place)
    {
        sleep_us((long)((8000 + 1000L * (place % 4)) / heavy_factor));
        *value = (*a + *b + place) % 1000003;
    }
}

__attribute__((noinline)) static void spawn_combine(long* row, long* total) {
    /* libomp matches dependences by address, not by array section: each
     * element is named. */
#pragma omp task depend(in : row[0], row[1], row[2], row[3], row[4], row[5], row[6], row[7], row[8], row[9], \
                        row[10], row[11]) depend(inout : total[0]) firstprivate(row)
    {
        sleep_us(5000);
        for (int i = 0; i < WIDTH; ++i) *total = (*total + row[i]) % 1000003;
    }
}

int main(int argc, char** argv) {
    if (argc > 1) heavy_factor = atof(argv[1]);
    if (!(heavy_factor > 0)) return 2;
    static long values[LAYERS + 1][WIDTH];
    long total = 0;
    for (int i = 0; i < WIDTH; ++i) values[0][i] = i;
#pragma omp parallel
#pragma omp single
    {
        for (int layer = 1; layer <= LAYERS; ++layer) {
            for (int i = 0; i < WIDTH; ++i) {
                long* value = &values[layer][i];
                const long* a = &values[layer - 1][i];
                const long* b = &values[layer - 1][(i + 1) % WIDTH];
                if (i % 2 == 0)
                    spawn_light(value, a, b, layer * WIDTH + i);
                else
                    spawn_heavy(value, a, b, layer * WIDTH + i);
            }
            if (layer % 4 == 0) spawn_combine(values[layer], &total);
        }
    }
    printf("checksum %ld\n", total);
    return 0;
}
