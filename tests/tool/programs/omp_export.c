/* OpenMP tasks of the shapes an export must carry: a diamond of dependent
 * tasks (A -> {B, C} -> D, then E after D), and untied parents that wait for
 * their children, so that each runs in several pieces, possibly on both
 * threads. Prints "tasks=N", the number of explicit tasks created. */
#include <stdio.h>

enum { parents = 6, children = 3 };

static void work(volatile long* sink, long n) {
    for (long i = 0; i < n; ++i) *sink += i;
}

int main(void) {
    volatile long sink = 0;
    int x = 0, y = 0, z = 0, w = 0;
    long created = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    {
#pragma omp task depend(out : x) shared(x, sink)
        {
            work(&sink, 200000);
            x = 1;
        }
#pragma omp task depend(in : x) depend(out : y) shared(x, y, sink)
        {
            work(&sink, 600000);
            y = x + 1;
        }
#pragma omp task depend(in : x) depend(out : z) shared(x, z, sink)
        {
            work(&sink, 300000);
            z = x + 2;
        }
#pragma omp task depend(in : y, z) depend(out : w) shared(y, z, w, sink)
        {
            work(&sink, 200000);
            w = y + z;
        }
#pragma omp task depend(in : w) shared(w, sink)
        {
            work(&sink, 100000);
            w = w + 1;
        }
        created += 5;
        for (int p = 0; p < parents; ++p) {
#pragma omp task untied shared(sink)
            {
                for (int c = 0; c < children; ++c) {
#pragma omp task shared(sink)
                    work(&sink, 100000);
                }
#pragma omp taskwait
                work(&sink, 50000);
            }
        }
        created += parents * (1 + children);
    }
    printf("tasks=%ld\n", created);
    return w == 6 ? 0 : 1;
}
