/* A debounced switch: on after THRESHOLD steps pressed in a row. */
#include <stdbool.h>
#include <stdint.h>

#include "debounce.h"

static uint8_t count;

bool debounce_step(bool raw)
{
    if (!raw) {
        count = 0u;
    } else if (count < THRESHOLD) {
        count++;
    }
    return count >= THRESHOLD;
}
