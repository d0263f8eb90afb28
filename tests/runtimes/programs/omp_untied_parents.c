/* Untied parent tasks that create dependent children on their own locals,
 * in rounds that end with a taskwait. An untied parent may be suspended at
 * each child it creates and at each taskwait, and resumed by the other
 * thread, so the children of one parent may be created, and their
 * dependences reported, from both threads: their order is then the order in
 * time, not that of any one thread's records. The values are checked
 * against the same rounds run serially.
 *
 * No taskyield: libomp 14 does not report the start of a task it runs
 * inside an untied task's taskyield, only its end.
 *
 * Prints "tasks=N parents=P". */
#include <stdio.h>
#include "spin.h"

enum { parents = 24, rounds = 3 };

static int tasks;

/* A round: x is written, y is written from x, x is read, x is updated
 * from y. */
static long parent_serial(long seed) {
    long x = seed, y = 0, seen = 0;
    for (int r = 0; r < rounds; ++r) {
        x = x % 1000 + r;
        y = 3 * x;
        seen += x;
        x = x + y + 1;
    }
    return x + seen;
}

int main(void) {
    long result[parents];
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int p = 0; p < parents; ++p) {
        /* The children are created in the task's own body, not in a function
         * it calls: only there are they scheduling points of the untied task. */
#pragma omp task untied firstprivate(p) shared(result)
        {
            long x = p, y = 0, seen = 0;
            for (int r = 0; r < rounds; ++r) {
#pragma omp atomic
                tasks += 4;
#pragma omp task depend(out : x) shared(x) firstprivate(r)
                {
                    x = x % 1000 + r;
                    spin(20000);
                }
#pragma omp task depend(in : x) depend(out : y) shared(x, y)
                {
                    y = 3 * x;
                    spin(20000);
                }
#pragma omp task depend(in : x) shared(x, seen)
                {
                    seen += x;
                    spin(20000);
                }
#pragma omp task depend(inout : x) depend(in : y) shared(x, y)
                {
                    x = x + y + 1;
                    spin(20000);
                }
#pragma omp taskwait
            }
            result[p] = x + seen;
        }
    }
    int wrong = 0;
    for (int p = 0; p < parents; ++p) wrong += result[p] != parent_serial(p);
    printf("tasks=%d parents=%d\n", tasks, parents);
    return wrong == 0 ? 0 : 1;
}
