/* Comma expressions as conditions and as a returned value. */
#include <stdio.h>

static const int data[] = {3, 1, 4, 1, 5, 0, 9};
static int at;
static int next(void) { return data[at++]; }

static int sum_until_zero(void)
{
    int c, sum = 0;
    at = 0;
    while (c = next(), c != 0)
        sum += c;
    for (at = 0; c = data[at], c > 2 && at < 6; at++)
        sum += 100;
    return sum += 1, sum * 2;
}

int main(void)
{
    printf("%d\n", sum_until_zero());
    return 0;
}
