/* A recursion whose tasks name their parent's locals in their dependences:
 * each call above the leaves creates two children that update x in turn
 * (inout), two that read x into y and z, and one that folds y and z back
 * into x, then waits for them. The two updaters recurse, so every level has
 * many parent tasks whose locals lie at the same stack depth: the same
 * addresses come back under different parents, where they must not order
 * anything. The result is checked against the same recursion run serially.
 *
 * Prints "tasks=N". */
#include <stdio.h>
#include "spin.h"

enum { depth = 4 };

static int tasks;

static long leaf(long v) {
    spin(20000);
    return v * 7 % 1009;
}

static long tree(int level, long seed) {
    if (level == 0) return leaf(seed);
    long x = seed, y = 0, z = 0;
#pragma omp atomic
    tasks += 5;
#pragma omp task depend(inout : x) shared(x) firstprivate(level)
    x += tree(level - 1, x);
#pragma omp task depend(inout : x) shared(x) firstprivate(level)
    x += tree(level - 1, x + 1);
#pragma omp task depend(in : x) depend(out : y) shared(x, y)
    y = leaf(x);
#pragma omp task depend(in : x) depend(out : z) shared(x, z)
    z = leaf(x + 2);
#pragma omp task depend(in : y, z) depend(inout : x) shared(x, y, z)
    x = (x + y + z) % 100003;
#pragma omp taskwait
    return x;
}

static long tree_serial(int level, long seed) {
    if (level == 0) return seed * 7 % 1009;
    long x = seed;
    x += tree_serial(level - 1, x);
    x += tree_serial(level - 1, x + 1);
    const long y = x * 7 % 1009, z = (x + 2) * 7 % 1009;
    return (x + y + z) % 100003;
}

int main(void) {
    long result = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    result = tree(depth, 3);
    printf("tasks=%d\n", tasks);
    return result == tree_serial(depth, 3) ? 0 : 1;
}
