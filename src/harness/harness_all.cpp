// harness_all: the entry to the generated registration of every variable ID.
#include "harness/harness_all.h"

void kiv_register_all_functions() {
    kiv_register_functions_1();
}
