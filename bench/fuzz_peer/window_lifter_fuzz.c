/* The libFuzzer peer of `kivrun generate` on the window lifter: the same
 * entries and inputs, encoded as bytes, the instrumented unit built with
 * -fsanitize=fuzzer. It counts the harness's goals the inputs reach so far
 * and prints the execution at which each new one appeared; it stops when it
 * has reached KIV_PEER_GOALS of them (environment), as generate would.
 *   window_lifter_fuzz [libFuzzer options, e.g. -seed=1 -runs=5000000] */
#include "unit/window_lifter.c"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The caller ID the probes stamp, which the runtime defines (the unit
 * defines its own records). */
int32_t IXA_CALLER_ID;

/* One step: an entry byte (odd: window_lifter_reset, else window_lifter_step)
 * and the step's inputs, little-endian, in the harness's order. */
enum { STEP_BYTES = 11 };

static uint8_t button;
static int16_t current;
static int8_t pulses;
static uint16_t supply;

uint8_t Io_ReadButton(void) { return button; }
int16_t Io_ReadCurrent(void) { return current; }
int8_t Io_ReadHallPulses(void) { return pulses; }
uint16_t Io_ReadSupply(void) { return supply; }
void Io_SetMotor(int16_t duty) { (void)duty; }
void Io_ReportEvent(uint8_t event) { (void)event; }

static WindowLifter at_load;
static unsigned long long executions;
static unsigned reached, wanted;

static unsigned goals_reached(void)
{
    unsigned n = 0;
#define KIV_GOAL(n_, record, field, rule) n += (record.field != 0);
#include "unit/goals.def"
    return n;
}

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    const char *w = getenv("KIV_PEER_GOALS");
    (void)argc, (void)argv;
    wanted = w ? (unsigned)strtoul(w, NULL, 10) : 0u;
    at_load = wl;
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    WlVehicle vehicle = {false, false, 0};
    unsigned now;

    /* Every case starts from the state at load, as in kivrun; the inputs too. */
    wl = at_load;
    button = 0, current = 0, pulses = 0, supply = 0;
    for (size_t at = 0; at + STEP_BYTES <= size; at += STEP_BYTES) {
        const uint8_t *s = data + at;
        if (s[0] & 1u) {
            window_lifter_reset();
            continue;
        }
        vehicle.ignition_on = s[1] & 1u;
        vehicle.comfort_close = s[2] & 1u;
        vehicle.speed_kmh = (int16_t)(uint16_t)(s[3] | s[4] << 8);
        button = s[5];
        current = (int16_t)(uint16_t)(s[6] | s[7] << 8);
        pulses = (int8_t)s[8];
        supply = (uint16_t)(s[9] | s[10] << 8);
        (void)window_lifter_step(&vehicle);
    }
    ++executions;
    now = goals_reached();
    if (now > reached) {
        reached = now;
        printf("kiv-peer: %u goals at execution %llu\n", reached, executions);
        fflush(stdout);
        if (wanted && reached >= wanted) exit(0);
    }
    return 0;
}
