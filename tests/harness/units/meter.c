/* A day's energy total in millijoules, beyond 32 bits: the harness of it is
 * built from a file named "energy meter.v2.c" (a space and a second dot). */
#include <stdint.h>

uint8_t Meter_OverBudget(int64_t energy_mj)
{
    return energy_mj > 5000000000LL;
}
