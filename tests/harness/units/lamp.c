/* A lamp whose mode is an enum with a negative member, as inputs, results and
 * state: suites name the modes, reports show the names. */
#include <stdint.h>

typedef enum { LAMP_FAULT = -1, LAMP_OFF, LAMP_ON, LAMP_RAMP } LampMode;

static LampMode mode = LAMP_OFF;

LampMode Lamp_Step(LampMode request, uint8_t level)
{
    if (request == LAMP_RAMP && level >= 100) {
        mode = LAMP_ON;
    } else if (request == LAMP_FAULT || level > 200) {
        mode = LAMP_FAULT;
    } else {
        mode = request;
    }
    return mode;
}
