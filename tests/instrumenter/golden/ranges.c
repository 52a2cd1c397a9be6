/* Conversions that cannot narrow get no cast probe; bounds a value cannot
 * cross are marked unreachable in the sites file. */
#include <stdint.h>

uint8_t frame(uint32_t id, uint32_t sum, int k, uint16_t w)
{
    uint8_t a = id & 0x3fU;            /* masked to fit: no probe */
    uint8_t b = (sum >> 24) & 0xffU;   /* shifted and masked: no probe */
    uint8_t c = k ? 10 : 200;          /* constant arms: no probe */
    uint8_t d = sum >> 24;             /* a shift that fits: no probe */
    uint8_t e = w % 100u;              /* a remainder that fits: no probe */
    int8_t f = w & 0xffU;              /* 0 to 255 into int8_t: aboveMax only */
    uint8_t g = sum;                   /* unsigned: belowMin unreachable */
    int8_t h = k;                      /* both bounds reachable */
    return (uint8_t)(a + b + c + d + e + f + g + h);
}
