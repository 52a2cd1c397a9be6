/* Directives between the operands of a comparison and inside a condition,
 * and operands that must stay constant or are never evaluated. */
#include <stdio.h>

#define LIMIT 3
#ifndef MODE
#define MODE 2
#endif

static int calls;
static int f(void) { return ++calls; }

static int check(int x)
{
    int r = 0;
    _Static_assert(LIMIT > 2, "a limit above 2");
    if (x <
#undef LIMIT
#define LIMIT 7
        LIMIT)
        r += 1;
    if (x > 0
#if MODE == 2
        && x < 5
#endif
    )
        r += 10;
    r += 100 * __builtin_constant_p(3 > 2);
    r += 1000 * (int)sizeof(f() > 2);
    if (x == 7) r += f();
    r += __builtin_choose_expr(sizeof(int) > 2, 20000, 0);
    return r;
}

int main(void)
{
    int x;
    for (x = -1; x < 9; x += 2) printf("%d ", check(x));
    printf("%d\n", calls);
    return 0;
}
