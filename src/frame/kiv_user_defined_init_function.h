// The test author's initialisation hook, run first in every scope's first step.
#pragma once

void kiv_user_defined_init_function();
