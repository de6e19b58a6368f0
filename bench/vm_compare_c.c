/* The workloads of the side-by-side VM benchmark in C, the floor of the comparison (built -O2).
 *
 *   vm_compare_c <workload> <arg>...      prints "<result> <seconds>"
 *
 * Same algorithms as the fixtures in bench/vm/ and vm_compare.lua, on 32-bit cells like the
 * script's, so the ratio to ours measures interpretation rather than data layout. Two places stop
 * the optimiser from removing the work the other runtimes must do: the sum loop (which it would
 * otherwise fold into a closed form) and the native, which is reached through a pointer the way
 * a registered function is. Everything else is left to -O2, recursion unrolling in fib included.
 * The clock covers the whole workload, except in sieve, where clearing the array of each pass is
 * set-up and only the strike and tally phases are timed, as on the other runtimes.
 */
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define SIEVE_MAX 10000000

static int32_t fib(int32_t n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

static int32_t sum(int32_t n) {
    uint32_t s = 0;
    for (int64_t i = 1; i <= n; ++i) {
        s += (uint32_t)i;
        __asm__ volatile("" : "+r"(s));
    }
    return (int32_t)s;
}

static int32_t composite[SIEVE_MAX + 1];

static double cpu_seconds(void);
static double sieve_seconds;

static int32_t sieve(int32_t n, int32_t reps) {
    int32_t total = 0;
    for (int32_t r = 0; r < reps; ++r) {
        memset(composite, 0, ((size_t)n + 1) * sizeof composite[0]);
        const double t0 = cpu_seconds();
        int32_t count = 0;
        for (int32_t i = 2; i * i <= n; ++i)
            if (!composite[i])
                for (int32_t j = i * i; j <= n; j += i) composite[j] = 1;
        for (int32_t i = 2; i <= n; ++i)
            if (!composite[i]) ++count;
        sieve_seconds += cpu_seconds() - t0;
        total += count;
    }
    return total;
}

static int32_t weighted_sum(int32_t a, int32_t b, int32_t c, int32_t d) {
    return (int32_t)((uint32_t)a + 2u * (uint32_t)b + 3u * (uint32_t)c + 4u * (uint32_t)d);
}
static int32_t (*volatile bound_native)(int32_t, int32_t, int32_t, int32_t) = weighted_sum;

static int32_t natives(int32_t n) {
    uint32_t s = 0;
    for (int64_t i = 1; i <= n; ++i) s += (uint32_t)bound_native((int32_t)i, 1, 2, 3);
    return (int32_t)s;
}

static int parse(const char* text, int32_t* out) {
    char* end = NULL;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return 0;
    *out = (int32_t)v;
    return 1;
}

static double cpu_seconds(void) {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
    int32_t a[2] = {0, 1};
    int nargs = argc - 2;
    if (argc < 3 || nargs > 2 || !parse(argv[2], &a[0]) || (nargs == 2 && !parse(argv[3], &a[1]))) {
        fprintf(stderr, "usage: %s fib|sum|sieve|natives <n> [reps]\n", argv[0]);
        return 2;
    }
    const char* w = argv[1];
    if (strcmp(w, "sieve") == 0 && (a[0] < 0 || a[0] > SIEVE_MAX)) {
        fprintf(stderr, "%s: sieve size must be 0..%d\n", argv[0], SIEVE_MAX);
        return 2;
    }
    int32_t result;
    double t0 = cpu_seconds();
    if (strcmp(w, "fib") == 0)
        result = fib(a[0]);
    else if (strcmp(w, "sum") == 0)
        result = sum(a[0]);
    else if (strcmp(w, "sieve") == 0)
        result = sieve(a[0], a[1]); /* times itself: see sieve_seconds */
    else if (strcmp(w, "natives") == 0)
        result = natives(a[0]);
    else {
        fprintf(stderr, "%s: unknown workload %s\n", argv[0], w);
        return 2;
    }
    double t1 = cpu_seconds();
    printf("%" PRId32 " %.6f\n", result, strcmp(w, "sieve") == 0 ? sieve_seconds : t1 - t0);
    return 0;
}
