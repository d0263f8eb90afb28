/* Task-heavy load for the tool: naive Fibonacci with one task per call. */
#include <stdio.h>
#include <stdlib.h>

static long fib(int n) {
    if (n < 2) {
        return n;
    }
    long a, b;
#pragma omp task shared(a)
    a = fib(n - 1);
#pragma omp task shared(b)
    b = fib(n - 2);
#pragma omp taskwait
    return a + b;
}

int main(int argc, char** argv) {
    const int n = argc > 1 ? atoi(argv[1]) : 20;
    long result = 0;
#pragma omp parallel
#pragma omp single
    result = fib(n);
    printf("fib(%d) = %ld\n", n, result);
    return 0;
}
