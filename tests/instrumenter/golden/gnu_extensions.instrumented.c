// Instrumented by kivinst from gnu_extensions.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "gnu_extensions_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "gnu_extensions.c"
/* GNU C: a range designator evaluates its initialiser once; the condition of
 * __builtin_choose_expr and the operand of __builtin_constant_p stay constant. */
int next(void);

int fill(int k)
{
    int table[6] = {[0 ... 3] = (IXA_DCF(1, &TU7ixa_dcf_cond1, "next"), next()), [4] = 1}; IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);
    return table[2] + table[5] + __builtin_choose_expr(sizeof(int) > 2, IXA_GRE_SS(1, &TU7_RELOP_1, k , 1), 0) + __builtin_constant_p(k > 1);
}
