/* A courtesy lamp: the small unit the harness build benchmark times. It
 * dims the lamp up when a door opens, holds it while the door stays open
 * and fades it out after a delay once every door is shut. */
#include <stdbool.h>
#include <stdint.h>

uint8_t Io_ReadDoors(void);
uint16_t Io_ReadAmbient(void);
void Io_SetLamp(uint8_t duty);

#define FADE_STEP 8u
#define HOLD_CYCLES 30u
#define DARK 400u

static uint8_t duty;
static uint8_t hold;
static bool was_open;

/* One 100 ms cycle; returns the lamp's duty in percent. */
uint8_t lamp_step(bool night_mode)
{
    const uint8_t doors = Io_ReadDoors();
    const bool open = doors != 0u;
    const bool dark = night_mode || Io_ReadAmbient() < DARK;

    if (open && dark) {
        duty = (uint8_t)(duty + FADE_STEP > 100u ? 100u : duty + FADE_STEP);
        hold = HOLD_CYCLES;
    } else if (was_open && !open) {
        hold = HOLD_CYCLES;
    } else if (hold > 0u) {
        --hold;
    } else if (duty >= FADE_STEP) {
        duty = (uint8_t)(duty - FADE_STEP);
    } else {
        duty = 0u;
    }
    was_open = open;
    Io_SetLamp(duty);
    return duty;
}

/* Switches the lamp off at once, as on a locked car. */
void lamp_off(void)
{
    duty = 0u;
    hold = 0u;
    was_open = false;
    Io_SetLamp(0u);
}
