/* Probe flags that the operands' types rule out on every step are marked
 * unreachable in the sites file, for every kind of goal; flags a value of
 * the type can raise are not. */
#include <stdint.h>

typedef enum { MODE_OFF, MODE_ON, MODE_LAST = MODE_ON } Mode;

struct Flags {
    unsigned ready : 1;
    signed level : 3;
};

int check(uint8_t u8, uint16_t u16, uint32_t u32, int8_t s8, struct Flags f, Mode m, int k)
{
    int n = 0;
    if (u8 != 0u) n++;          /* u8 is never one below 0 */
    if (u32 != 0u) n++;         /* 4294967295 is one below 0 in 32 bits: reachable */
    if (u16 < UINT16_MAX) n++;  /* never one above 65535 */
    if (f.ready > 1u) n++;      /* a 1-bit field: never true, never one above */
    if (f.level == 4) n++;      /* 3 signed bits hold -4 to 3: never equal, never true */
    if (s8 >= -128) n++;        /* never false, never one below */
    if (m > MODE_LAST) n++;     /* an enum object holds any value of its type: all reachable */
    if (u8 + 1 > 0) n++;        /* a sum that cannot wrap: never false */
    if ((u16 += 1u) == 0) n++;  /* a compound assignment is the sum, not its right side */
    n += k / (u8 + 1);          /* the divisor is 1 to 256: never 0 */
    n += k / (u16 | 1u);        /* never 0 */
    n += k % (u32 + 1u);        /* wraps to 0: reachable */
    return n;
}
