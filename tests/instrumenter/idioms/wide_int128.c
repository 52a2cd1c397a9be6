/* 128-bit integers in a condition, a comparison and a divisor. */
#include <stdio.h>

__extension__ typedef unsigned __int128 u128;

static int nonzero(u128 v) { return v ? 1 : 0; }
static int less(u128 a, u128 b) { return a < b; }
static unsigned long long ratio(u128 a, u128 b) { return (unsigned long long)(a / b); }

int main(void)
{
    const u128 big = (u128)1 << 64;
    printf("%d %d %d %d\n", nonzero(big), nonzero(0), less(1, big), less(big, big + 1));
    printf("%llu %llu\n", ratio(big * 6, big + big), ratio(big, 3));
    if (big) printf("big\n");
    return 0;
}
