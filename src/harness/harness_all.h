// harness_all: the entry to the generated registration of every variable ID.
#pragma once

// Enters every ID of the library into the registry.
void kiv_register_all_functions();
// Enters all IDs of the unit's harness_ids.def, each with its row of data;
// expanded from the unit's tables in harness/harness_1.cpp.
void kiv_register_functions_1();
