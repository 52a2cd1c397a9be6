/* dllharness: the C interface of the unit-test harness library.
 *
 * A host loads libdllharness.so, registers variable IDs under index tables
 * (params, inputs, outputs), writes inputs by index, selects a scope by
 * writing KIV_SCOPE_UID, calls kiv_dll_step and reads the goal flags back by
 * index. Calls must not overlap; the library keeps its state for as long as
 * it stays loaded.
 */
#ifndef DLLHARNESS_H
#define DLLHARNESS_H

#include <stdint.h>

#if defined(__GNUC__)
#define KIV_API __attribute__((visibility("default")))
#else
#define KIV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KIV_EXPORT_DATA(type, name) KIV_API extern type name;
#define KIV_EXPORT_FN(ret, name, params, args) KIV_API ret name params;
#include "dllharness_exports.def"

#ifdef __cplusplus
}
#endif

#endif /* DLLHARNESS_H */
