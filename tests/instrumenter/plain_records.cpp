// The probe records of both units, for the library built from the plain
// sources: its goal evaluation reads them, nothing writes them.
#include "instrumentation/CodeAnnotation.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/records.def"
