// Instrumented by kivinst from examples/units/debounce.c (translation unit 5). Generated: edit the plain source, not this file.
// Made for this configuration: no -D, -I or -U
// A build under another one stops here rather than measure other code.

#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "x_records.def"

// Records start zeroed at load and nothing clears them: no initialisation.

#line 1 "examples/units/debounce.c"
/* Push-button debounce: a counter of samples that disagree with the debounced
 * state, which changes when the counter reaches DEBOUNCE_SAMPLES. */
#include "debounce.h"

static DebounceState debounce_state = DEBOUNCE_RELEASED;
static uint8_t debounce_count; /* disagreeing samples in a row */

DebounceState debounce_step(uint8_t sample)
{ IXA_FC(1, &TU5ixa_fc_cond1); IXA_STM(1, &TU5ixa_stm_cond1);
    const DebounceState seen = IXA_DC_S(1, &TU5ixa_dc_cond1, (IXA_NEQ_UU(1, &TU5_RELOP_1, sample, 0u))) ? DEBOUNCE_PRESSED : DEBOUNCE_RELEASED;

    if (IXA_DC_S(2, &TU5ixa_dc_cond2, (IXA_EQU_UU(2, &TU5_RELOP_2, seen, debounce_state)))) { IXA_STM(2, &TU5ixa_stm_cond2);
        /* One agreeing sample is a bounce: the count starts again. */
        debounce_count = 0u;
        return debounce_state;
    }
    IXA_STM(3, &TU5ixa_stm_cond3); debounce_count++;
    if (IXA_DC_S(3, &TU5ixa_dc_cond3, (IXA_LES_UU(3, &TU5_RELOP_3, debounce_count, DEBOUNCE_SAMPLES)))) { IXA_STM(4, &TU5ixa_stm_cond4);
        return debounce_state;
    }
    IXA_STM(5, &TU5ixa_stm_cond5); debounce_count = 0u;
    if (IXA_DC_S(4, &TU5ixa_dc_cond4, (IXA_EQU_UU(4, &TU5_RELOP_4, seen, DEBOUNCE_PRESSED)))) { IXA_STM(6, &TU5ixa_stm_cond6);
        debounce_state = DEBOUNCE_PRESSED;
    } else { IXA_STM(7, &TU5ixa_stm_cond7);
        debounce_state = DEBOUNCE_RELEASED;
    }
    IXA_STM(8, &TU5ixa_stm_cond8); return debounce_state;
}
