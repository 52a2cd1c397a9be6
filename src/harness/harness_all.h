// harness_all: the entry to the generated registration of every variable ID.
#pragma once

// Enters every ID of the library into the registry.
void kiv_register_all_functions();
