/* C that a C++ compiler reads otherwise: volatile compound assignment,
 * designated initialisers out of order, a header's __cplusplus branch,
 * implicit conversion from void *, and a static inline function from a header. */
#include <stdio.h>
#include <stdlib.h>

#include "c_only.h"

struct config { int rate; int gain; int limit; };
static const struct config defaults = {.limit = 50, .rate = 3, .gain = 2};
static volatile unsigned reg;

static int apply(int x)
{
    int* buf = malloc(sizeof(int));
    int r;
    reg |= 1u << (x & 7);
    reg &= ~2u;
    *buf = clip(x * defaults.gain + defaults.rate, defaults.limit);
    r = *buf + (int)LANGUAGE_MARK;
    free(buf);
    return r;
}

int main(void)
{
    int x;
    for (x = -40; x < 40; x += 9) printf("%d ", apply(x));
    printf("%u\n", reg);
    return 0;
}
