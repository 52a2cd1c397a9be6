/* The public header compiles as C and names every export with the right type. */
#include "dllharness.h"

#include <stdio.h>

int main(void) {
    int32_t* scope = &KIV_SCOPE_UID;
    int64_t (*get)(int32_t) = kiv_dll_get_input_int;
    void (*step)(void) = kiv_dll_step;
    (void)scope;
    (void)get;
    (void)step;
    puts("ok");
    return 0;
}
