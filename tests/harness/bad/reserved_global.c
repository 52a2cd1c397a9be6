/* A global named as the glue names an entry's argument storage. */
#include <stdint.h>

uint8_t kiv_in_step_x;

uint8_t step(uint8_t x) { return x + kiv_in_step_x; }
