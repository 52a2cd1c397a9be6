// The typed unit as the frames see it.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct typed_inputs {
    uint8_t u8;
    int8_t i8;
    uint16_t u16;
    int16_t i16;
    uint32_t u32;
    int32_t i32;
    uint64_t u64;
    int64_t i64;
    bool b;
    uint8_t flag;
    float f;
    double d;
};
extern struct typed_inputs typed_in;
extern double typed_sum;
extern int16_t typed_negated;

void typed_step(void);
void typed_init(void);

#ifdef __cplusplus
}
#endif
