// The seat heater controller SeatHeatControl: its runnables, its state record
// and its probe records (translation unit 18).
#pragma once

#include <cstdint>

#include "instrumentation/CodeAnnotation.h"

struct SeatHeatControlState {
    uint8_t StageCounter;       // current heating stage, 0 to 3
    uint8_t PrevPressEdge;      // edge flag of the previous runa2 call
    uint8_t LedStage3;          // LED 3: stage 3
    uint8_t LedStage1;          // LED 1: stage 1, 2 or 3
    uint8_t LedStage2;          // LED 2: stage 2 or 3
    uint8_t ActivationOk;       // activation condition
    uint8_t PrevButtonPressed;  // button value of the previous runa2 call
};
extern SeatHeatControlState seat_heating_control_ARID_DEF;

// Activation condition from seat occupancy and power management state.
void runa1();
// Heating stage from button presses: each rising edge advances 0, 1, 2, 3, 0.
void runa2();
// Coil temperature and LED feedback for the current stage.
void runa3();
// Arms the press filter and republishes the LED states; keeps everything else.
void SeatHeatControl_Init();

#define IXA_RECORD(kind, rec, fn, text) extern IXA_##kind##_RECORD rec;
#include "unit/seat_heating_control_records.def"
