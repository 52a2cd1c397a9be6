/* The probe record kinds: what each probe call site records. Shared by the
 * probe runtime and by anything that must compile the instrumented units
 * without it; C and C++ alike (the records have the same layout in both). */
#ifndef IXA_PROBE_RECORDS_H
#define IXA_PROBE_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copied into every record a probe touches. Nothing assigns it, so it stays 0. */
extern int32_t IXA_CALLER_ID;

/* One record type per probe kind, IXA_<kind>_RECORD: callerId, then the
 * kind's fields in the order its row gives them. */
#define IXA_FIELD(type, name) type name;
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) \
    typedef struct IXA_##kind##_RECORD {                                \
        int32_t callerId;                                               \
        fields                                                          \
    } IXA_##kind##_RECORD;
#include "probe_kinds.def"
#undef IXA_FIELD

#ifdef __cplusplus
}
#endif

#endif
