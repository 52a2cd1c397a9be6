/* A press held for 259 steps in a row: a goal beyond 256 steps. */
#include <stdbool.h>
#include <stdint.h>

static uint32_t held;

bool LongPress_Step(bool pressed)
{
    held = pressed ? held + 1u : 0u;
    return held == 259u;
}
