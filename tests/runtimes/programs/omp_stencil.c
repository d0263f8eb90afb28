/* A blocked 1-D Jacobi stencil on two buffers that swap roles every step:
 * the task of block b in step s reads blocks b-1, b and b+1 of one buffer
 * and writes block b of the other, so a block's task waits for its three
 * neighbours of the step before and for the readers of the block it
 * overwrites. The result is compared with a plain serial sweep.
 *
 * Prints "tasks=N". */
#include <math.h>
#include <stdio.h>

enum { blocks = 8, block_size = 2048, steps = 6 };

static double grid[2][blocks][block_size];
static double serial[2][blocks][block_size];

static double at(double (*g)[block_size], int b, int i) {
    if (b < 0 || b >= blocks) return 0.0;
    return g[b][i];
}

/* One block of one step: the same arithmetic for the tasks and the check. */
static void relax(double (*from)[block_size], double (*to)[block_size], int b) {
    for (int i = 0; i < block_size; ++i) {
        const double left = i > 0 ? from[b][i - 1] : at(from, b - 1, block_size - 1);
        const double right = i + 1 < block_size ? from[b][i + 1] : at(from, b + 1, 0);
        double v = (left + from[b][i] + right) / 3.0;
        for (int k = 0; k < 20; ++k) v = v * 0.999 + 0.001 * sqrt(v * v + 1.0);
        to[b][i] = v;
    }
}

int main(void) {
    for (int b = 0; b < blocks; ++b)
        for (int i = 0; i < block_size; ++i) grid[0][b][i] = serial[0][b][i] = (b * block_size + i) % 17;
    int tasks = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int s = 0; s < steps; ++s) {
        double(*from)[block_size] = grid[s % 2];
        double(*to)[block_size] = grid[(s + 1) % 2];
        for (int b = 0; b < blocks; ++b) {
            /* The edge blocks name themselves for the missing neighbour. */
            const int l = b > 0 ? b - 1 : b, r = b + 1 < blocks ? b + 1 : b;
            ++tasks;
#pragma omp task depend(in : from[l][0], from[b][0], from[r][0]) depend(out : to[b][0]) firstprivate(from, to, b)
            relax(from, to, b);
        }
    }
    for (int s = 0; s < steps; ++s)
        for (int b = 0; b < blocks; ++b) relax(serial[s % 2], serial[(s + 1) % 2], b);
    int wrong = 0;
    for (int b = 0; b < blocks; ++b)
        for (int i = 0; i < block_size; ++i) wrong += grid[steps % 2][b][i] != serial[steps % 2][b][i];
    printf("tasks=%d\n", tasks);
    return wrong == 0 ? 0 : 1;
}
