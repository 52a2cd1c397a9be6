/* A turn-signal flasher: the unit the install test builds a harness for. */
#include <stdbool.h>
#include <stdint.h>

void Lamp_Set(bool on);

static uint8_t phase;

/* One 10 ms cycle; returns whether the lamp is lit. */
bool blinker_step(bool lever, uint8_t period)
{
    if (!lever || period == 0u) {
        phase = 0u;
        Lamp_Set(false);
        return false;
    }
    phase = (uint8_t)((phase + 1u) % (2u * period));
    Lamp_Set(phase < period);
    return phase < period;
}
