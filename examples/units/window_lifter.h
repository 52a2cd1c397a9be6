/* Power window lifter with anti-pinch, for one door, run every 10 ms. */
#ifndef WINDOW_LIFTER_H
#define WINDOW_LIFTER_H

#include <stdbool.h>
#include <stdint.h>

/* Vehicle signals the body controller hands over every cycle. */
typedef struct WlVehicle {
    bool ignition_on;   /* terminal 15 */
    bool comfort_close; /* the locking system asks every window to close */
    int16_t speed_kmh;  /* negative while reversing */
} WlVehicle;

typedef enum WlState {
    WL_IDLE = 0,
    WL_MANUAL_UP,
    WL_MANUAL_DOWN,
    WL_AUTO_UP,
    WL_AUTO_DOWN,
    WL_REVERSING, /* backing off after a pinch */
    WL_THERMAL,   /* motor too hot: stays off until it has cooled */
    WL_FAULT      /* the switch reads garbage: off until it reads released */
} WlState;

/* One cycle: reads the switch, the motor current, the hall sensor and the
 * supply, drives the motor; returns the state after the cycle. vehicle must
 * not be null. */
WlState window_lifter_step(const WlVehicle *vehicle);

/* Forgets the window's position, as after the battery was disconnected:
 * until the window has been run into its top stop once, it closes slowly,
 * only while the switch is held, and the one-touch modes are refused. */
void window_lifter_reset(void);

#endif
