/* A running sum kept in a context the caller owns, the way an embedded filter
 * or integrator keeps its state. */
#ifndef ACCUM_H
#define ACCUM_H

#include <stdint.h>

typedef struct {
    int32_t sum;
    uint16_t count;
} Acc;

void Acc_Reset(Acc *a, int32_t start);
int32_t Acc_Add(Acc *a, int16_t x);
/* Mean of what was added, 0 before anything was. */
int32_t Acc_Mean(const Acc *a);

#endif
