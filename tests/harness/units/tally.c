/* A running total two entries share, started at 100 by an init the unit file
 * names for both scopes: what one entry adds, the other reads in the same case. */
#include <stdint.h>

static int32_t total;

void Tally_Init(void)
{
    total = 100;
}

void Tally_Add(int16_t x)
{
    total += x;
}

int32_t Tally_Read(void)
{
    return total;
}
