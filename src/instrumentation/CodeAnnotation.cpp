// CodeAnnotation: the one piece of probe runtime state that is not a record.
// The probes themselves are inline in CodeAnnotation.h.
#include "instrumentation/CodeAnnotation.h"

// Nothing assigns it, so every record a probe touches carries callerId 0.
int32_t IXA_CALLER_ID = 0;
