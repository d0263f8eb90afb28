/* Three parallel regions on two threads, one with an explicit barrier and one
 * with a worksharing loop; no explicit tasks. */
#include <stdio.h>

int main(void) {
    int hits[2] = {0, 0};
    long sum = 0;
#pragma omp parallel num_threads(2)
#pragma omp atomic
    hits[0]++;
#pragma omp parallel num_threads(2)
    {
#pragma omp atomic
        hits[1]++;
#pragma omp barrier
#pragma omp atomic
        hits[1]++;
    }
#pragma omp parallel for num_threads(2) reduction(+ : sum)
    for (int i = 0; i < 1000; ++i)
        sum += i;
    printf("%d %d %ld\n", hits[0], hits[1], sum);
    return hits[0] == 2 && hits[1] == 4 && sum == 499500 ? 0 : 1;
}
