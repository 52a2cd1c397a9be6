/* Braced bodies and whole if/else that come from macros. */
#include <stdio.h>

#define LIMIT(v, lo, hi) do { if ((v) < (lo)) (v) = (lo); else if ((v) > (hi)) (v) = (hi); } while (0)
#define IF_NEG_THEN_ZERO(v) if ((v) < 0) (v) = 0; else (v) = (v) * 2
#define BEGIN {
#define END }

static int clamp(int v, int mode)
{
    if (mode == 1)
        LIMIT(v, 0, 10);
    else if (mode == 2) IF_NEG_THEN_ZERO(v);
    else BEGIN v = -v; END
    LIMIT(v, -20, 20);
    return v;
}

int main(void)
{
    int v, m;
    for (v = -30; v <= 30; v += 7)
        for (m = 0; m < 3; m++) printf("%d ", clamp(v, m));
    printf("\n");
    return 0;
}
