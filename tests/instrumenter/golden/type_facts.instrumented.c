// Instrumented by kivinst from type_facts.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "type_facts_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "type_facts.c"
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
    int n = 0; IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);
    if (IXA_DC_S(1, &TU7ixa_dc_cond1, (IXA_NEQ_UU(1, &TU7_RELOP_1, u8 , 0u)))) { IXA_STM(2, &TU7ixa_stm_cond2); n++; }          /* u8 is never one below 0 */
    IXA_STM(3, &TU7ixa_stm_cond3); if (IXA_DC_S(2, &TU7ixa_dc_cond2, (IXA_NEQ_UU(2, &TU7_RELOP_2, u32 , 0u)))) { IXA_STM(4, &TU7ixa_stm_cond4); n++; }         /* 4294967295 is one below 0 in 32 bits: reachable */
    IXA_STM(5, &TU7ixa_stm_cond5); if (IXA_DC_S(3, &TU7ixa_dc_cond3, (IXA_LES_SS(3, &TU7_RELOP_3, u16 , UINT16_MAX)))) { IXA_STM(6, &TU7ixa_stm_cond6); n++; }  /* never one above 65535 */
    IXA_STM(7, &TU7ixa_stm_cond7); if (IXA_DC_S(4, &TU7ixa_dc_cond4, (IXA_GRE_UU(4, &TU7_RELOP_4, f.ready , 1u)))) { IXA_STM(8, &TU7ixa_stm_cond8); n++; }      /* a 1-bit field: never true, never one above */
    IXA_STM(9, &TU7ixa_stm_cond9); if (IXA_DC_S(5, &TU7ixa_dc_cond5, (IXA_EQU_SS(5, &TU7_RELOP_5, f.level , 4)))) { IXA_STM(10, &TU7ixa_stm_cond10); n++; }      /* 3 signed bits hold -4 to 3: never equal, never true */
    IXA_STM(11, &TU7ixa_stm_cond11); if (IXA_DC_S(6, &TU7ixa_dc_cond6, (IXA_GEQ_SS(6, &TU7_RELOP_6, s8 , -128)))) { IXA_STM(12, &TU7ixa_stm_cond12); n++; }        /* never false, never one below */
    IXA_STM(13, &TU7ixa_stm_cond13); if (IXA_DC_S(7, &TU7ixa_dc_cond7, (IXA_GRE_UU(7, &TU7_RELOP_7, m , MODE_LAST)))) { IXA_STM(14, &TU7ixa_stm_cond14); n++; }     /* an enum object holds any value of its type: all reachable */
    IXA_STM(15, &TU7ixa_stm_cond15); if (IXA_DC_S(8, &TU7ixa_dc_cond8, (IXA_GRE_SS(8, &TU7_RELOP_8, u8 + 1 , 0)))) { IXA_STM(16, &TU7ixa_stm_cond16); n++; }        /* a sum that cannot wrap: never false */
    IXA_STM(17, &TU7ixa_stm_cond17); if (IXA_DC_S(9, &TU7ixa_dc_cond9, (IXA_EQU_SS(9, &TU7_RELOP_9, (u16 += 1u) , 0)))) { IXA_STM(18, &TU7ixa_stm_cond18); n++; }  /* a compound assignment is the sum, not its right side */
    IXA_STM(19, &TU7ixa_stm_cond19); n += k / IXA_DBZ_S(1, &TU7ixa_dbz_cond1, (u8 + 1));          /* the divisor is 1 to 256: never 0 */
    n += k / IXA_DBZ_U(2, &TU7ixa_dbz_cond2, (u16 | 1u));        /* never 0 */
    n += k % IXA_DBZ_U(3, &TU7ixa_dbz_cond3, (u32 + 1u));        /* wraps to 0: reachable */
    return n;
}
