/* Conversions at the limits of their types: long double narrowing, 64-bit
 * bounds, 32-bit values into 64-bit types, integers into float and double. */
#include <float.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

static double narrow(long double x) { return x; }
static float narrowf(long double x) { return x; }
static size_t size_of(int n) { size_t s = n; return s; }
static uint64_t widen(int32_t n) { return n; }
static int64_t wrap(uint64_t u) { return (int64_t)(u >> 1); }
static float to_float(int64_t v) { return v; }
static double to_double(uint64_t v) { return v; }
static int32_t truncate_(double d) { return (int32_t)d; }
static uint8_t low_byte(uint32_t v) { uint8_t b = v; return b; }

int main(void)
{
    const long double ld[] = {0.1L, 1e300L, -1e300L, 1.5L, DBL_MAX, -DBL_MIN};
    const int ints[] = {0, 1, -1, INT32_MAX, INT32_MIN};
    const uint64_t u64[] = {0, 1, UINT64_MAX, 9007199254740993ULL, (uint64_t)INT64_MAX};
    unsigned i;
    for (i = 0; i < sizeof ld / sizeof ld[0]; i++) printf("%.17g %.9g\n", narrow(ld[i]), (double)narrowf(ld[i]));
    for (i = 0; i < sizeof ints / sizeof ints[0]; i++)
        printf("%zu %llu %.9g %u\n", size_of(ints[i]), (unsigned long long)widen(ints[i]), (double)to_float(ints[i]),
               (unsigned)low_byte((uint32_t)ints[i]));
    for (i = 0; i < sizeof u64 / sizeof u64[0]; i++)
        printf("%lld %.17g %.9g\n", (long long)wrap(u64[i]), to_double(u64[i]), (double)to_float((int64_t)(u64[i] >> 2)));
    printf("%d %d\n", truncate_(-2.9), truncate_(2147483647.0));
    return 0;
}
