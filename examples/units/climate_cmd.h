/* Climate control command handler: takes service requests from the body bus
 * (a workshop tester or the head unit), answers them, and runs the blower
 * from the cabin temperature and the supply, one step every 20 ms. */
#ifndef CLIMATE_CMD_H
#define CLIMATE_CMD_H

#include <stddef.h>
#include <stdint.h>

typedef enum CmdMode {
    CMD_MODE_OFF = 0,
    CMD_MODE_AUTO,    /* blower follows the distance to the set point */
    CMD_MODE_MANUAL,  /* blower at the level the driver chose */
    CMD_MODE_DEFROST  /* full blower whatever the temperatures */
} CmdMode;

typedef enum CmdResult {
    CMD_IDLE = 0,     /* no request this step */
    CMD_DONE,         /* a request carried out and answered */
    CMD_REJECTED,     /* a request refused with a negative answer */
    CMD_TX_FAILED     /* the answer could not be sent */
} CmdResult;

/* Faults reported to the hook given to Cmd_Init, each once until cleared. */
enum {
    CMD_FAULT_UNDERVOLTAGE = 1,
    CMD_FAULT_SENSOR = 2,
    CMD_FAULT_TX = 3,
    CMD_FAULT_LOCKOUT = 4 /* three wrong unlock keys in a row */
};

typedef void (*CmdFaultHook)(uint8_t code);

/* Starts from the defaults (auto, 21.0 degrees, locked); on_fault may be
 * null, then faults are only kept in the state. */
void Cmd_Init(CmdFaultHook on_fault);

/* One step: at most one request from the bus, then the blower. */
CmdResult Cmd_Step(void);

/* The state as one line for the instrument cluster's service page, e.g.
 * "AUTO SET=21.0 CAB=19.5 BLW=4 U=12.4". Writes at most cap - 1 characters
 * and a terminating zero (nothing when cap is 0); returns the length the
 * whole line needs, so a result >= cap says it was cut. */
size_t Cmd_Format(char *out, size_t cap);

#endif
