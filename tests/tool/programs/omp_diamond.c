/* Four tasks A, B, C, D whose dependences make a diamond A -> {B, C} -> D,
 * sleeping 20, 60, 30 and 20 ms. Traced, the task graph has work 130 ms and
 * span 100 ms (A, B, D) however the threads run it. */
#include <time.h>

static void sleep_ms(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

int main(void) {
    int x = 0, y = 0, z = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    {
#pragma omp task depend(out : x) shared(x)
        {
            sleep_ms(20);
            x = 1;
        }
#pragma omp task depend(in : x) depend(out : y) shared(x, y)
        {
            sleep_ms(60);
            y = x + 1;
        }
#pragma omp task depend(in : x) depend(out : z) shared(x, z)
        {
            sleep_ms(30);
            z = x + 2;
        }
#pragma omp task depend(in : y, z) shared(y, z)
        {
            sleep_ms(20);
            y = y + z;
        }
    }
    return y == 5 ? 0 : 1;
}
