/* Operand types our two units do not have. */
#include <stdint.h>

int before(const int* p, const int* q)
{
    return p < q && p != 0;
}

int64_t wide(int64_t a, uint64_t b, uint32_t c)
{
    if (a < 0 || b >= 4000000000u)
        return a / b;
    return c > a;
}

int8_t narrow(double d, float f, int32_t i)
{
    int32_t t = (int32_t)d;
    uint8_t u = f;
    float g = d;
    float h = i;
    return (int8_t)(t + u + i) + (int8_t)(g * h);
}

int truth(double d, const char* s)
{
    return d && s;
}
