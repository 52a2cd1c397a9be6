/* A small unit the bad-input cases break one way each. */
#include <stdint.h>

typedef struct {
    uint8_t count;
    uint8_t stable;
} debounce_t;

uint8_t Io_Read(void);

uint8_t debounce(debounce_t* state, uint8_t sample)
{
    if (sample != state->stable && ++state->count >= 3) {
        state->stable = sample;
        state->count = 0;
    }
    return state->stable + Io_Read();
}
