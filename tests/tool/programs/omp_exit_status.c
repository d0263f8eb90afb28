/* Runs one parallel region on two threads and exits with the status given
 * as its argument, so that a test can see it pass through mvt-trace record. */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    int sum = 0;
#pragma omp parallel num_threads(2) reduction(+ : sum)
    sum += 1;
    printf("threads: %d\n", sum);
    return argc > 1 ? atoi(argv[1]) : 0;
}
