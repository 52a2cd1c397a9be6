/* The typed unit: one step adds its floating inputs and negates a 16-bit one. */
#include "instrumentation/CodeAnnotation.h"
#include "unit/unit.h"

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/typed_records.def"

struct typed_inputs typed_in;
double typed_sum;
int16_t typed_negated;

void typed_init(void) {}

void typed_step(void) {
    IXA_FC(1, &TU1ixa_fc_cond1);
    typed_sum = typed_in.f + typed_in.d;
    typed_negated = (int16_t)-typed_in.i16;
}
