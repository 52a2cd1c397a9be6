/* SeatHeatControl, the seat heater controller: its runnables and state. */
#ifndef SEAT_HEATING_CONTROL_H
#define SEAT_HEATING_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SeatHeatControlState {
    uint8_t StageCounter;      /* current heating stage, 0 to 3 */
    uint8_t PrevPressEdge;     /* edge flag of the previous runa2 call */
    uint8_t LedStage3;         /* LED 3: stage 3 */
    uint8_t LedStage1;         /* LED 1: stage 1, 2 or 3 */
    uint8_t LedStage2;         /* LED 2: stage 2 or 3 */
    uint8_t ActivationOk;      /* activation condition */
    uint8_t PrevButtonPressed; /* button value of the previous runa2 call */
} SeatHeatControlState;
extern SeatHeatControlState seat_heating_control_ARID_DEF;

void runa1(void);
void runa2(void);
void runa3(void);
void SeatHeatControl_Init(void);

#ifdef __cplusplus
}
#endif

#endif
