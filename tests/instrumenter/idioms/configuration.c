/* Code that depends on its configuration: a -D value, and an option that
 * was off when the unit was instrumented. */
#include <stdio.h>

#ifndef LEVEL
#define LEVEL 1
#endif

static int scale(int x)
{
#ifdef FAST_MODE
    return x << 1;
#else
#if LEVEL > 2
    if (x > 10)
        return x * 3;
#endif
    return x * 2;
#endif
}

int main(void)
{
    int x;
    for (x = 0; x < 20; x += 3) printf("%d ", scale(x));
    printf("\n");
    return 0;
}
