/* Code that compiles warning-free and must stay so instrumented: a loop
 * left only by return, labels that fall through across #endif, a case that
 * only breaks, declarations at the head of blocks. */
#include <stdio.h>

static int first_above(const int* v, int limit)
{
    int i = 0;
    while (1) {
        if (v[i] > limit) return i;
        i++;
    }
}

static int steps(int k)
{
    int r = 0;
    switch (k) {
#ifndef STEP_TRACE
    case 7:
#endif
    case 0:
        r += 1;
        /* fall through */
#ifdef STEP_TRACE
        r += 100;
#endif
    default:
        break;
    }
    if (k > 1) {
        int twice = k * 2;
        r += twice;
    }
    return r;
}

int main(void)
{
    static const int v[] = {1, 5, 9, 13, 40};
    int k;
    for (k = 0; k < 4; k++) printf("%d %d ", first_above(v, k * 4), steps(k));
    printf("\n");
    return 0;
}
