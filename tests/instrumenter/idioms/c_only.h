/* A unit header as C code bases write them. */
#ifndef C_ONLY_H
#define C_ONLY_H
#ifdef __cplusplus
#define LANGUAGE_MARK 1000
#else
#define LANGUAGE_MARK 7
#endif

static inline int clip(int v, int limit)
{
    if (v > limit) return limit;
    if (v < -limit) return -limit;
    return v;
}
#endif
