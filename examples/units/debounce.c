/* Push-button debounce: a counter of samples that disagree with the debounced
 * state, which changes when the counter reaches DEBOUNCE_SAMPLES. */
#include "debounce.h"

static DebounceState debounce_state = DEBOUNCE_RELEASED;
static uint8_t debounce_count; /* disagreeing samples in a row */

DebounceState debounce_step(uint8_t sample)
{
    const DebounceState seen = (sample != 0u) ? DEBOUNCE_PRESSED : DEBOUNCE_RELEASED;

    if (seen == debounce_state) {
        /* One agreeing sample is a bounce: the count starts again. */
        debounce_count = 0u;
        return debounce_state;
    }
    debounce_count++;
    if (debounce_count < DEBOUNCE_SAMPLES) {
        return debounce_state;
    }
    debounce_count = 0u;
    if (seen == DEBOUNCE_PRESSED) {
        debounce_state = DEBOUNCE_PRESSED;
    } else {
        debounce_state = DEBOUNCE_RELEASED;
    }
    return debounce_state;
}
