/* A small OpenMP program for the tool to trace: a parallel initialisation,
 * then a pipeline of tasks whose dependences chain three stages per block,
 * then a parallel reduction. Run it with OMP_TOOL_LIBRARIES naming
 * libmvt_xml.so to get its graph and timeline. */
#include <stdio.h>

enum { blocks = 4, block_size = 256 };

static double data[blocks][block_size];
static double block_sum[blocks];

static void scale(double* block, double factor) {
    for (int i = 0; i < block_size; ++i) {
        block[i] *= factor;
    }
}

int main(void) {
#pragma omp parallel for num_threads(2)
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < block_size; ++i) {
            data[b][i] = b + i / (double)block_size;
        }
    }

#pragma omp parallel num_threads(2)
#pragma omp single
    for (int b = 0; b < blocks; ++b) {
#pragma omp task depend(out : data[b][0])
        scale(data[b], 2.0);
#pragma omp task depend(inout : data[b][0])
        scale(data[b], 0.5);
#pragma omp task depend(in : data[b][0]) depend(out : block_sum[b])
        {
            double s = 0;
            for (int i = 0; i < block_size; ++i) {
                s += data[b][i];
            }
            block_sum[b] = s;
        }
    }

    double total = 0;
#pragma omp parallel for num_threads(2) reduction(+ : total)
    for (int b = 0; b < blocks; ++b) {
        total += block_sum[b];
    }
    printf("omp_example: %d blocks, total %.1f\n", blocks, total);
    return 0;
}
