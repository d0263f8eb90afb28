/* OpenMP tasks and regions whose code addresses the symbols test resolves:
 * every line below that opens a task or a parallel region must be where one
 * of the recorded addresses lands. Each task has a dependence, so that the
 * library records its code address. */
#include <stdio.h>

static int produce(int x) { return x * 2 + 1; }

static void sweep(int* cells, int n) {
    for (int i = 0; i < n; ++i) {
#pragma omp task depend(out : cells[i]) firstprivate(i)
        cells[i] = produce(i);
    }
#pragma omp task depend(in : cells[0]) depend(out : cells[n - 1])
    cells[n - 1] += cells[0];
#pragma omp taskwait
}

int main(void) {
    int cells[8] = {0};
    int pair[2] = {0, 0};
    int total = 0;
#pragma omp parallel num_threads(2)
    {
#pragma omp single
        {
            sweep(cells, 8);
            /* A task in the region's own body, which the compiler outlines,
             * and one inside that task's body. */
#pragma omp task depend(out : pair[0]) /* outer */
            {
#pragma omp task depend(out : pair[1]) /* inner */
                pair[1] = 1;
#pragma omp taskwait
                pair[0] = pair[1] + 1;
            }
        }
    }
#pragma omp parallel num_threads(2) reduction(+ : total)
    total += cells[1];
    printf("%d\n", total > 0 && pair[0] == 2);
    return 0;
}
