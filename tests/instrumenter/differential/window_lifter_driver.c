/* Drives the window lifter through random steps: the driver inputs come from
 * a fixed pseudo-random sequence, and every output (the state returned, each
 * motor command, each event) is printed. Built once with the plain unit and
 * once with kivinst's output, both must print the same. */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include "window_lifter.h"
#include "window_lifter_io.h"

int32_t IXA_CALLER_ID; /* the probe runtime's, for the instrumented build; unused by the plain one */

static uint64_t seed = 0x9e3779b97f4a7c15u;
static uint32_t draw(void)
{
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return (uint32_t)(seed >> 16);
}
/* Mostly plausible values, now and then anything of the type. */
static int32_t pick(int32_t lo, int32_t hi, int32_t wild_lo, int32_t wild_hi)
{
    if (draw() % 16u == 0) return wild_lo + (int32_t)(draw() % (uint32_t)(wild_hi - wild_lo + 1));
    return lo + (int32_t)(draw() % (uint32_t)(hi - lo + 1));
}

static uint8_t button;
uint8_t Io_ReadButton(void) { return button; }
int16_t Io_ReadCurrent(void) { return (int16_t)pick(-4000, 12000, -32768, 32767); }
int8_t Io_ReadHallPulses(void) { return (int8_t)pick(-6, 6, -128, 127); }
uint16_t Io_ReadSupply(void) { return (uint16_t)pick(8000, 16000, 0, 65535); }
void Io_SetMotor(int16_t duty) { printf(" m%d", duty); }
void Io_ReportEvent(uint8_t event) { printf(" e%u", (unsigned)event); }

int main(int argc, char** argv)
{
    const long steps = argc > 1 ? atol(argv[1]) : 20000;
    long i;
    for (i = 0; i < steps; i++) {
        WlVehicle v;
        if (draw() % 500u == 0) {
            window_lifter_reset();
            printf("reset\n");
        }
        /* A button is held for a while: change it one step in eight. */
        if (draw() % 8u == 0) button = (uint8_t)pick(0, 4, 0, 255);
        v.ignition_on = draw() % 10u != 0;
        v.comfort_close = draw() % 20u == 0;
        v.speed_kmh = (int16_t)pick(-20, 200, -32768, 32767);
        printf("%ld:", i);
        printf(" s%d\n", (int)window_lifter_step(&v));
    }
    return 0;
}
