/* Constructs kivinst leaves alone or treats specially, each said once and
 * where the user wrote it. */
#include <stdio.h>

#include "messages.h"

static int check(int v)
{
    int table[6] = {[5] = 1, [2] = 4};
    if (v > LIMIT) v = LIMIT;
    if (IN_RANGE(v) || IN_RANGE(v + 1)) v += 100;
#include "messages_body.inc"
    return v + table[2] + table[5];
}

int main(void)
{
    int v;
    for (v = -5; v < 40; v += 6) printf("%d ", check(v));
    printf("\n");
    return 0;
}
