/* The body controller's drivers as the window lifter sees them. The unit
 * calls these and does not define them. */
#ifndef WINDOW_LIFTER_IO_H
#define WINDOW_LIFTER_IO_H

#include <stdint.h>

/* Codes the window switch reads as; any other code is a wiring fault. */
enum {
    IO_BUTTON_NONE = 0,
    IO_BUTTON_UP = 1,       /* first detent up: closes while held */
    IO_BUTTON_DOWN = 2,     /* first detent down: opens while held */
    IO_BUTTON_AUTO_UP = 3,  /* second detent up: closes fully */
    IO_BUTTON_AUTO_DOWN = 4 /* second detent down: opens fully */
};

/* Events for the diagnostic memory. */
enum {
    IO_EVENT_PINCH = 1,
    IO_EVENT_OVERHEAT = 2,
    IO_EVENT_SWITCH_FAULT = 3,
    IO_EVENT_NORMALISED = 4
};

uint8_t Io_ReadButton(void);
int16_t Io_ReadCurrent(void);   /* motor current in mA, negative while opening */
int8_t Io_ReadHallPulses(void); /* hall pulses since the last call, positive closing */
uint16_t Io_ReadSupply(void);   /* supply voltage in mV */
void Io_SetMotor(int16_t duty); /* per mille of full drive, positive closes, 0 stops */
void Io_ReportEvent(uint8_t event);

#endif
