/* A blocked 1-D stencil of 50 steps over 50 blocks: 2,500 OpenMP tasks of
 * one `#pragma omp task`, each reading its block and its two neighbours of
 * the step before and writing its block of the other buffer. Fifty tasks
 * fill the blocks first, and one task without dependences sums the result
 * after a taskwait: three constructs, enough tasks that the report draws
 * its constructs, and a recording of about a second. */
#include <stdio.h>

enum { steps = 50, blocks = 50, block_size = 512 };

static double grid[2][blocks][block_size];

static void fill(int b) {
    for (int i = 0; i < block_size; ++i) grid[0][b][i] = (b * block_size + i) % 17;
}

static double at(double (*g)[block_size], int b, int i) { return b < 0 || b >= blocks ? 0.0 : g[b][i]; }

static void sweep(double (*from)[block_size], double (*to)[block_size], int b) {
    for (int i = 0; i < block_size; ++i) {
        const double left = i > 0 ? from[b][i - 1] : at(from, b - 1, block_size - 1);
        const double right = i + 1 < block_size ? from[b][i + 1] : at(from, b + 1, 0);
        double v = (left + from[b][i] + right) / 3.0;
        for (int k = 0; k < 8; ++k) v = v * 0.999 + 0.001 * (v * 0.5 + 1.0);
        to[b][i] = v;
    }
}

static double total(double (*g)[block_size]) {
    double sum = 0;
    for (int b = 0; b < blocks; ++b)
        for (int i = 0; i < block_size; ++i) sum += g[b][i];
    return sum;
}

int main(void) {
    double sum = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    {
        for (int b = 0; b < blocks; ++b) {
#pragma omp task depend(out : grid[0][b][0]) firstprivate(b)
            fill(b);
        }
        for (int s = 0; s < steps; ++s) {
            double(*from)[block_size] = grid[s % 2];
            double(*to)[block_size] = grid[(s + 1) % 2];
            for (int b = 0; b < blocks; ++b) {
                /* The edge blocks name themselves for the missing neighbour. */
                const int l = b > 0 ? b - 1 : b, r = b + 1 < blocks ? b + 1 : b;
#pragma omp task depend(in : from[l][0], from[b][0], from[r][0]) depend(out : to[b][0]) firstprivate(from, to, b)
                sweep(from, to, b);
            }
        }
#pragma omp taskwait
#pragma omp task shared(sum)
        sum = total(grid[steps % 2]);
    }
    printf("sum=%.3f\n", sum);
    return 0;
}
