// Instrumented by kivinst from ranges.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "ranges_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "ranges.c"
/* Conversions that cannot narrow get no cast probe; bounds a value cannot
 * cross are marked unreachable in the sites file. */
#include <stdint.h>

uint8_t frame(uint32_t id, uint32_t sum, int k, uint16_t w)
{
    uint8_t a = id & 0x3fU;            /* masked to fit: no probe */
    uint8_t b = (sum >> 24) & 0xffU;   /* shifted and masked: no probe */
    uint8_t c = IXA_DC_S(1, &TU7ixa_dc_cond1, k) ? 10 : 200;          /* constant arms: no probe */
    uint8_t d = sum >> 24;             /* a shift that fits: no probe */
    uint8_t e = w % 100u;              /* a remainder that fits: no probe */
    int8_t f = IXA_CAST_U(1, &TU7_CAST_1, (w & 0xffU), -128, 127);              /* 0 to 255 into int8_t: aboveMax only */
    uint8_t g = IXA_CAST_U(2, &TU7_CAST_2, sum, 0, 255);                   /* unsigned: belowMin unreachable */
    int8_t h = IXA_CAST_S(3, &TU7_CAST_3, k, -128, 127); IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);                      /* both bounds reachable */
    return (uint8_t)IXA_CAST_S(4, &TU7_CAST_4, (a + b + c + d + e + f + g + h), 0, 255);
}
