// kiv_user_defined_init_function: the test author's hook; this harness needs none.
#include "frame/kiv_user_defined_init_function.h"

void kiv_user_defined_init_function() {}
