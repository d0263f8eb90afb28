/* Untied recursive tasks: fib(n), each call above the leaves creating two
 * untied children and waiting for them, computed in several rounds. An
 * untied task is suspended at its scheduling points and may be resumed by
 * whichever thread is free; at the end of each round one of the two threads
 * runs dry and takes over suspended tasks of the other.
 *
 * Prints "tasks=N", the number of explicit tasks created. */
#include <stdio.h>

enum { rounds = 12, n = 11, fib_n = 89 };

static long created;

static long fib(int k) {
    if (k < 2) return k;
    long a = 0, b = 0;
#pragma omp atomic
    created += 2;
#pragma omp task untied shared(a)
    a = fib(k - 1);
#pragma omp task untied shared(b)
    b = fib(k - 2);
#pragma omp taskwait
    return a + b;
}

int main(void) {
    long sum = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int round = 0; round < rounds; ++round) sum += fib(n);
    printf("tasks=%ld\n", created);
    return sum == rounds * fib_n ? 0 : 1;
}
