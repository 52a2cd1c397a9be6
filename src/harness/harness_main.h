// harness_main: the registry from variable IDs to accessor functions, and the
// per-kind index tables through which the host reaches the accessors.
#pragma once

#include <cstdint>

// Every accessor of the library is of the integer kind.
using kiv_getter = int64_t (*)();
using kiv_setter = void (*)(int64_t value);

// An index table entry: both null for an ID that is not registered, a null
// setter for a read-only ID.
struct fct_pair {
    kiv_getter get_fct;
    kiv_setter set_fct;
};

// Opens the registry (both hash tables, every ID entered) unless it is open.
void kiv_init_harness();
// Enters one ID; the ID text is copied. Entering an ID again adds a second
// pair that lookups never reach. A null ID is ignored.
void kiv_register_single_function(const char* id, kiv_getter getter, kiv_setter setter);
