// Instrumented by kivinst from unsupported.c (translation unit 7). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unsupported_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "unsupported.c"
/* Constructs kivinst reports and leaves as they are. */
#define IS_ZERO(x) ((x) == 0)

int odd(int x)
{ IXA_FC(1, &TU7ixa_fc_cond1); IXA_STM(1, &TU7ixa_stm_cond1);
    if (IXA_DC_S(1, &TU7ixa_dc_cond1, (IXA_GRE_SS(1, &TU7_RELOP_1, x , 3))))
        { IXA_STM(2, &TU7ixa_stm_cond2); goto inside; }
    IXA_STM(3, &TU7ixa_stm_cond3); {
        x = 2;
    inside:
        x++;
    }
    __asm__ volatile("" ::: "memory");
    return IS_ZERO(x);
}

int dispatch(int k)
{
    static void* targets[] = {&&one, &&two}; IXA_FC(2, &TU7ixa_fc_cond2); IXA_STM(4, &TU7ixa_stm_cond4);
    goto* targets[k & 1];
one:
    return 1;
two:
    return 2;
}
