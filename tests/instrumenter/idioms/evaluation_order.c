/* Comparisons and divisions whose operands C evaluates in either order:
 * gcc and clang differ here, and each must compute with probes what it
 * computes without. */
#include <stdio.h>

static int count, remaining = 3, sp = 6;
static int stack[8] = {5, 1, 7, 2, 9, 4};
static int bump(void) { return ++count; }
static int consume(void) { return --remaining; }
static int pop(void) { return stack[--sp]; }

static int mixed(int limit)
{
    int n = 0, local = 2;
    if (consume() == remaining) n += 1;
    if (pop() < pop()) n += 2;
    if (bump() > count) n += 4;
    if (count < bump()) n += 8;
    if (bump() > limit) n += 16;   /* a parameter: either order gives one value */
    if (local < bump()) n += 32;
    n += 100 * (count / bump());
    while (local++ < limit) n += local;   /* only a local no other operand names changes */
    return n;
}

int main(void)
{
    int i;
    for (i = 0; i < 3; i++) printf("%d ", mixed(i * 3));
    printf("%d %d %d\n", count, remaining, sp);
    return 0;
}
