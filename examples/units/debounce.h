/* Push-button debounce: the debounced state follows the raw sample only after
 * the sample has differed from it for 12 calls in a row. */
#ifndef DEBOUNCE_H
#define DEBOUNCE_H

#include <stdint.h>

#define DEBOUNCE_SAMPLES 12u /* equal samples in a row that change the state */

typedef enum DebounceState {
    DEBOUNCE_RELEASED = 0,
    DEBOUNCE_PRESSED = 1
} DebounceState;

/* Takes one raw sample (0 released, anything else pressed), called at a fixed
 * rate; returns the debounced state after it. Starts released. */
DebounceState debounce_step(uint8_t sample);

#endif
