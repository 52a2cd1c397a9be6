// Instrumented by kivinst from control.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "control_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "control.c"
/* Control flow our two units do not have. */
int pick(int a, int b, int c)
{ IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);
    if (IXA_DC_S(1, &TU7ixa_dc_cond1, (!(IXA_CC_S(1, &TU7ixa_cc_cond1, (IXA_LES_SS(1, &TU7_RELOP_1, a , b))) && IXA_CC_S(2, &TU7ixa_cc_cond2, (!c))) || IXA_CC_S(3, &TU7ixa_cc_cond3, (IXA_EQU_SS(2, &TU7_RELOP_2, a , c))))))
        { IXA_STM(2, &TU7ixa_stm_cond2); a = -a; }
    IXA_STM(3, &TU7ixa_stm_cond3); return IXA_DC_S(2, &TU7ixa_dc_cond2, (IXA_GRE_SS(3, &TU7_RELOP_3, a , 0))) ? (IXA_DC_S(3, &TU7ixa_dc_cond3, (IXA_GRE_SS(4, &TU7_RELOP_4, b , 0))) ? 1 : 2) : IXA_DC_S(4, &TU7ixa_dc_cond4, c) ? 3 : 4;
}

unsigned sum(const unsigned char* v, int n)
{
    unsigned total = 0;
    int i, j; IXA_FC(2, &TU7ixa_fc_cond2); IXA_STM(4, &TU7ixa_stm_cond4);
    for (i = 0, j = n - 1; IXA_DC_S(5, &TU7ixa_dc_cond5, (IXA_LES_SS(5, &TU7_RELOP_5, i , j))); i++, j--)
        { IXA_STM(5, &TU7ixa_stm_cond5); total += v[i] + v[j]; }
    IXA_STM(6, &TU7ixa_stm_cond6); while (IXA_DC_S(6, &TU7ixa_dc_cond6, (IXA_CC_S(4, &TU7ixa_cc_cond4, (IXA_GRE_SS(6, &TU7_RELOP_6, n , 0))) && IXA_CC_S(5, &TU7ixa_cc_cond5, (IXA_EQU_SS(7, &TU7_RELOP_7, v[n - 1] , 0))))))
        { IXA_STM(7, &TU7ixa_stm_cond7); n--; }
    IXA_STM(8, &TU7ixa_stm_cond8); do { IXA_STM(9, &TU7ixa_stm_cond9);
        total /= IXA_DBZ_U(1, &TU7ixa_dbz_cond1, ((unsigned)IXA_CAST_S(1, &TU7_CAST_1, n, 0, 4294967295u)));
    } while (IXA_DC_S(7, &TU7ixa_dc_cond7, (IXA_GRE_UU(8, &TU7_RELOP_8, total , 100u))));
    IXA_STM(10, &TU7ixa_stm_cond10); return total % 7u;
}

int classify(int k)
{
    int r = 0; IXA_FC(3, &TU7ixa_fc_cond3); IXA_STM(11, &TU7ixa_stm_cond11);
    switch (k) {
    case 0: IXA_SC(6, &TU7ixa_sc_cond6); goto kiv_case7;
    case 1: IXA_SC(7, &TU7ixa_sc_cond7); kiv_case7: IXA_STM(12, &TU7ixa_stm_cond12);
        r = 1;
    goto kiv_case8; case 2: IXA_SC(8, &TU7ixa_sc_cond8); kiv_case8: IXA_STM(13, &TU7ixa_stm_cond13);
        r += 2;
        if (IXA_DC_S(8, &TU7ixa_dc_cond8, (IXA_GRE_SS(9, &TU7_RELOP_9, r , 2))))
            { IXA_STM(14, &TU7ixa_stm_cond14); r = 9; }
        else { IXA_STM(15, &TU7ixa_stm_cond15); if (IXA_DC_S(9, &TU7ixa_dc_cond9, (IXA_LES_SS(10, &TU7_RELOP_10, r , 0))))
            { IXA_STM(16, &TU7ixa_stm_cond16); r = 8; } }
        IXA_STM(17, &TU7ixa_stm_cond17); r++;
        break;
    default: IXA_SC(9, &TU7ixa_sc_cond9); IXA_STM(18, &TU7ixa_stm_cond18);
        r = -1;
    }
    IXA_STM(19, &TU7ixa_stm_cond19); return r;
}
