// Instrumented by kivinst from macro_condition.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.
#ifdef STRICT
#error "kivinst: made with STRICT undefined; instrument the unit again for this configuration"
#endif

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "macro_condition_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "macro_condition.c"
#define VALID(p) ((p) != 0 && (p)->n > 0)
#define NONZERO(v) (v) != 0 &&
struct s { int n; };
int f(struct s *s, int d) { IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1); if (IXA_DC_S(1, &TU7ixa_dc_cond1, (IXA_CC_S(1, &TU7ixa_cc_cond1, (!VALID(s))) || IXA_CC_S(2, &TU7ixa_cc_cond2, (IXA_EQU_SS(1, &TU7_RELOP_1, d , 0))) || IXA_CC_S(3, &TU7ixa_cc_cond3, (IXA_GRE_SS(2, &TU7_RELOP_2, d , 9)))))) { IXA_STM(2, &TU7ixa_stm_cond2); return 1; } IXA_STM(3, &TU7ixa_stm_cond3); return 0; }
int g(int d) { IXA_FC(2, &TU7ixa_fc_cond2); IXA_STM(4, &TU7ixa_stm_cond4); return IXA_DC_S(2, &TU7ixa_dc_cond2, (NONZERO(d) IXA_LES_SS(3, &TU7_RELOP_3, d , 3))); }
int h(int d)
{ IXA_FC(3, &TU7ixa_fc_cond3); IXA_STM(5, &TU7ixa_stm_cond5);
    if (IXA_GRE_SS(4, &TU7_RELOP_4, d , 1)
#ifndef STRICT
        && IXA_LES_SS(5, &TU7_RELOP_5, d , 8)
#endif
    )
        { IXA_STM(6, &TU7ixa_stm_cond6); return 1; }
    IXA_STM(7, &TU7ixa_stm_cond7); return IXA_DC_S(3, &TU7ixa_dc_cond3, (IXA_CC_S(4, &TU7ixa_cc_cond4, (IXA_LES_SS(6, &TU7_RELOP_6, d , 0))) || (IXA_CC_S(5, &TU7ixa_cc_cond5, (IXA_GRE_SS(7, &TU7_RELOP_7, d , 5)))
#ifndef STRICT
        && IXA_CC_S(6, &TU7ixa_cc_cond6, (IXA_LES_SS(8, &TU7_RELOP_8, d , 7)))
#endif
        )));
}

/* The configuration as the unit's own files left it. */
#ifdef STRICT
#error "kivinst: made with STRICT undefined; instrument the unit again for this configuration"
#endif
