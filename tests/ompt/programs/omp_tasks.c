/* One parallel region on two threads whose single thread creates eight
 * explicit tasks: four with dependences (six entries: out a; in a, out b;
 * inout b; in a, in b) and four without. */
#include <stdio.h>

int main(void) {
    int a = 0, b = 0, c = 0, executed = 0;
#pragma omp parallel num_threads(2)
#pragma omp single
    {
#pragma omp task depend(out : a) shared(a)
        a = 1;
#pragma omp task depend(in : a) depend(out : b) shared(a, b)
        b = a + 1;
#pragma omp task depend(inout : b) shared(b)
        b *= 10;
#pragma omp task depend(in : a, b) shared(a, b, c)
        c = a + b;
        for (int i = 0; i < 4; ++i) {
#pragma omp task shared(executed)
#pragma omp atomic
            executed++;
        }
    }
    printf("a=%d b=%d c=%d executed=%d\n", a, b, c, executed);
    return a == 1 && b == 20 && c == 21 && executed == 4 ? 0 : 1;
}
