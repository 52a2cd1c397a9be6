/* Decisions whose conditions come from macros, or straddle a directive. */
#include <stdio.h>

#ifndef STRICT
#define STRICT 1
#endif

struct s {
    int n;
};
#define VALID(p) ((p) != 0 && (p)->n > 0)
#define NONZERO(v) (v) != 0 &&
#define IN_RANGE(v) ((v) >= 0 && (v) <= 9)

static int check(struct s *s, int d)
{
    int r = 0;
    if (!VALID(s) || d == 0 || d > 9) r += 1;
    if (IN_RANGE(d) && VALID(s)) r += 10;
    if (NONZERO(d - 5) d < 3) r += 100;
    if (d != 4
#if STRICT
        && d != 5
#endif
        && d != 7)
        r += 1000;
    if (d > 1
#if STRICT
        && d < 8
#endif
    )
        r += 100000;
    r += (IN_RANGE(d - 2) || !d) ? 10000 : 0;
    return r;
}

int main(void)
{
    struct s a = {3}, b = {-1}, c = {0};
    struct s *all[] = {&a, &b, &c, 0};
    int i, d;
    for (i = 0; i < 4; i++)
        for (d = -1; d < 12; d++) printf("%d ", check(all[i], d));
    printf("\n");
    return 0;
}
