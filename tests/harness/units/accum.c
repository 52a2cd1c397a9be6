#include "accum.h"

void Acc_Reset(Acc *a, int32_t start)
{
    a->sum = start;
    a->count = 0;
}

int32_t Acc_Add(Acc *a, int16_t x)
{
    a->sum += x;
    a->count++;
    return a->sum;
}

int32_t Acc_Mean(const Acc *a)
{
    if (a->count == 0) {
        return 0;
    }
    return a->sum / a->count;
}
