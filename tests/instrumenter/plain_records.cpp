// The probe records of both units, for the library built from the plain
// sources: its goal evaluation reads them, nothing writes them.
#include "unit/Wrapper_seat_heating_control.h"
#include "unit/seat_heating_control.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/Wrapper_seat_heating_control_records.def"
#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/seat_heating_control_records.def"
