/* Options defaulted in the unit's own header and tested in its source. */
#include <stdio.h>

#include "header_config.h"

static int filter(int prev, int x)
{
#if FILTER_ORDER > 1
    x = (prev + x) / 2;
#endif
#ifdef USE_CLAMP
    if (x > 50) x = 50;
#endif
    return prev + (x - prev) / FILTER_ORDER;
}

int main(void)
{
    int x, y = 0;
    for (x = 0; x < 100; x += 13) printf("%d ", y = filter(y, x));
    printf("\n");
    return 0;
}
