/* Short sequences of sibling tasks on one or two variables, each an
 * ordering of in, out and inout that OpenMP orders differently: out after
 * out, in after in, out after a run of ins, a task that names one variable
 * both in and out, writers of one variable that read the other. Each
 * sequence runs inside a parent task of its own, on locals of the same
 * function, so the same addresses come back under every parent. A task's
 * body reads and writes what its dependences name; the values are checked
 * against the same sequences run serially.
 *
 * Prints "tasks=N parents=P": the tasks of the sequences, and their parents,
 * which have no dependences. */
#include <stdio.h>
#include <string.h>
#include "spin.h"

/* What a task names: bit 0/1 reads/writes the first variable, bit 2/3 the
 * second. "out" writes without reading. */
enum { ra = 1, wa = 2, rb = 4, wb = 8 };
enum access {
    in_a = ra,
    out_a = wa,
    inout_a = ra | wa | 16, /* 16: an inout, not an in and an out */
    in_b = rb,
    out_b = wb,
    inout_b = rb | wb | 16,
    in_a_out_b = ra | wb,
    out_a_in_b = wa | rb,
    in_a_in_b = ra | rb,
    inout_a_inout_b = ra | wa | rb | wb | 16,
    in_a_out_a = ra | wa,
};

enum { max_tasks = 8, sequences = 8 };
static const enum access sequence[sequences][max_tasks] = {
    {out_a, out_a, in_a},
    {in_a, in_a, out_a, in_a},
    {inout_a, in_a, in_a, inout_a, out_a, in_a},
    {out_a, in_a_out_b, in_b, inout_a_inout_b, in_a},
    {in_a, in_a_out_a, in_a, out_a, in_a},
    {out_a_in_b, in_a_out_b, in_a_in_b, out_a, inout_b},
    {out_b, out_a, in_a_in_b, inout_b, in_b, out_a, out_a, in_a},
    {in_b, inout_a, in_a_out_b, out_a_in_b, in_a_in_b},
};

/* Task k of a sequence: what it reads goes to seen[k], what it writes
 * depends on k and on what it read. The serial check does not spin. */
static void body(enum access what, int k, long* v, long* seen, int slow) {
    long got = 0;
    if (what & ra) got += v[0];
    if (what & rb) got += 7 * v[1];
    seen[k] = got;
    if (what & wa) v[0] = (what & ra ? v[0] * 3 : 0) + 10 * k + 1;
    if (what & wb) v[1] = (what & rb ? v[1] * 5 : 0) + 10 * k + 2;
    if (slow) spin(30000 + 10000 * k);
}

static int tasks;

/* Task k of the sequence, with the given depend clauses. */
#define PRAGMA(...) _Pragma(#__VA_ARGS__)
#define TASK(...)                                                        \
    PRAGMA(omp task __VA_ARGS__ shared(v, seen) firstprivate(k, what)) \
    body(what, k, v, seen, 1);                                         \
    break

static void run(int s, long* result, long* seen) {
    long v[2] = {1, 2};
    for (int k = 0; k < max_tasks && sequence[s][k]; ++k) {
        const enum access what = sequence[s][k];
#pragma omp atomic
        ++tasks;
        switch (what) {
            case in_a: TASK(depend(in : v[0]));
            case out_a: TASK(depend(out : v[0]));
            case inout_a: TASK(depend(inout : v[0]));
            case in_b: TASK(depend(in : v[1]));
            case out_b: TASK(depend(out : v[1]));
            case inout_b: TASK(depend(inout : v[1]));
            case in_a_out_b: TASK(depend(in : v[0]) depend(out : v[1]));
            case out_a_in_b: TASK(depend(out : v[0]) depend(in : v[1]));
            case in_a_in_b: TASK(depend(in : v[0], v[1]));
            case inout_a_inout_b: TASK(depend(inout : v[0], v[1]));
            case in_a_out_a: TASK(depend(in : v[0]) depend(out : v[0]));
        }
    }
#pragma omp taskwait
    result[0] = v[0];
    result[1] = v[1];
}

int main(void) {
    long result[sequences][2], seen[sequences][max_tasks];
    memset(seen, 0, sizeof seen);
#pragma omp parallel num_threads(2)
#pragma omp single
    for (int s = 0; s < sequences; ++s) {
#pragma omp task firstprivate(s) shared(result, seen)
        run(s, result[s], seen[s]);
    }
    int wrong = 0;
    for (int s = 0; s < sequences; ++s) {
        long v[2] = {1, 2}, expect[max_tasks] = {0};
        for (int k = 0; k < max_tasks && sequence[s][k]; ++k) body(sequence[s][k], k, v, expect, 0);
        wrong += v[0] != result[s][0] || v[1] != result[s][1] || memcmp(expect, seen[s], sizeof expect) != 0;
    }
    printf("tasks=%d parents=%d\n", tasks, sequences);
    return wrong == 0 ? 0 : 1;
}
