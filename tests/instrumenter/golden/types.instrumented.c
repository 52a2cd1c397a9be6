// Instrumented by kivinst from types.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "types_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "types.c"
/* Operand types our two units do not have. */
#include <stdint.h>

int before(const int* p, const int* q)
{ IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);
    return IXA_DC_S(1, &TU7ixa_dc_cond1, (IXA_CC_S(1, &TU7ixa_cc_cond1, (p < q)) && IXA_CC_S(2, &TU7ixa_cc_cond2, (p != 0))));
}

int64_t wide(int64_t a, uint64_t b, uint32_t c)
{ IXA_FC(2, &TU7ixa_fc_cond2); IXA_STM(2, &TU7ixa_stm_cond2);
    if (IXA_DC_S(2, &TU7ixa_dc_cond2, (IXA_CC_S(3, &TU7ixa_cc_cond3, (IXA_LES_SS_LL(1, &TU7_RELOP_1, a , 0))) || IXA_CC_S(4, &TU7ixa_cc_cond4, (IXA_GEQ_UU_LL(2, &TU7_RELOP_2, b , 4000000000u))))))
        { IXA_STM(3, &TU7ixa_stm_cond3); return IXA_CAST_U_LL(1, &TU7_CAST_1, (a / IXA_DBZ_U_LL(1, &TU7ixa_dbz_cond1, b)), (-9223372036854775807LL - 1), 9223372036854775807LL); }
    IXA_STM(4, &TU7ixa_stm_cond4); return IXA_GRE_SS_LL(3, &TU7_RELOP_3, c , a);
}

int8_t narrow(double d, float f, int32_t i)
{
    int32_t t = (int32_t)IXA_CAST_D_S(2, &TU7_CAST_2, d, (-2147483647 - 1), 2147483647);
    uint8_t u = IXA_CAST_D_U(3, &TU7_CAST_3, f, 0, 255);
    float g = IXA_CAST_D_F(4, &TU7_CAST_4, d, -3.4028234663852886e+38, 3.4028234663852886e+38);
    float h = IXA_CAST_S_32FP(5, &TU7_CAST_5, i, -16777216.0, 16777216.0); IXA_FC(3, &TU7ixa_fc_cond3); IXA_STM(5, &TU7ixa_stm_cond5);
    return IXA_CAST_S(8, &TU7_CAST_8, ((int8_t)IXA_CAST_S(6, &TU7_CAST_6, (t + u + i), -128, 127) + (int8_t)IXA_CAST_D_S(7, &TU7_CAST_7, (g * h), -128, 127)), -128, 127);
}

int truth(double d, const char* s)
{ IXA_FC(4, &TU7ixa_fc_cond4); IXA_STM(6, &TU7ixa_stm_cond6);
    return IXA_DC_S(3, &TU7ixa_dc_cond3, (IXA_CC_S(5, &TU7ixa_cc_cond5, (d) != 0) && IXA_CC_S(6, &TU7ixa_cc_cond6, (s) != 0)));
}
