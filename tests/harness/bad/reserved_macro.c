/* A macro of the probe runtime's, defined again by the unit. */
#define IXA_STM(n) ((n) + 1)

int step(int x) { return IXA_STM(x); }
