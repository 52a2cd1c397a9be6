// harness_main: registry lifecycle, index tables and access by index.
#include "harness/harness_main.h"

#include "dllharness.h"
#include "harness/harness_all.h"
#include "harness/mxx_hashtable.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int32_t kRegistryBuckets = 99991;

// An index table and the length its kind's first registration gave it; both
// zero while the kind has no table, so the bounds check also covers that case.
struct kiv_index_table {
    fct_pair* entries;
    int32_t length;
};

int32_t kiv_is_initialized;
mxx_hashtable* id_get_fct_hash;
mxx_hashtable* id_set_fct_hash;  // also holds a null setter for each read-only ID
kiv_index_table kivRegisteredParamFunctions;
kiv_index_table kivRegisteredInputFunctions;
kiv_index_table kivRegisteredOutputFunctions;

int32_t kiv_key_strcmp(const void* stored, const void* probe) {
    return std::strcmp(static_cast<const char*>(stored), static_cast<const char*>(probe));
}

mxx_hashtable* kiv_create_id_table() {
    mxx_hashtable* table = mxx_hashtable_create(kRegistryBuckets, mxx_hash_string, kiv_key_strcmp, nullptr);
    mxx_hashtable_setKeyFree(table, std::free);
    return table;
}

// Function addresses travel through the hash tables as untyped values.
void* kiv_as_value(kiv_getter fn) {
    return reinterpret_cast<void*>(fn);
}

void* kiv_as_value(kiv_setter fn) {
    return reinterpret_cast<void*>(fn);
}

void kiv_release_index_table(kiv_index_table* table) {
    Free(table->entries);
    *table = {nullptr, 0};
}

// The common body of the three register functions. The first registration of
// a kind fixes its table length; an index outside the table, a first count
// below 1 or one too large to allocate changes nothing. A null or unknown ID
// stores a null pair.
void kiv_register_object(int32_t count, int32_t index, const char* id, kiv_index_table* table) {
    kiv_init_harness();
    if (table->entries == nullptr) {
        if (count < 1) return;
        auto* entries = static_cast<fct_pair*>(std::calloc(static_cast<size_t>(count), sizeof(fct_pair)));
        if (entries == nullptr) return;  // the length must never describe a table that is not there
        *table = {entries, count};
    }
    if (index < 0 || index >= table->length) return;
    fct_pair& entry = table->entries[index];
    entry = {nullptr, nullptr, {nullptr, nullptr}};
    if (id == nullptr) return;
    entry.get_fct = reinterpret_cast<kiv_getter>(mxx_hashtable_find_first(id_get_fct_hash, id));
    entry.set_fct = reinterpret_cast<kiv_setter>(mxx_hashtable_find_first(id_set_fct_hash, id));
    if (entry.get_fct != nullptr) entry.float_fct = kiv_floating_accessors(entry.get_fct);
}

// Access by index: one bounds check (which also rejects a kind without a
// table), one load, one call. Entries never registered are zero, so a null
// function stands for every entry that has nothing to call.
int64_t kiv_dll_get_int(int32_t index, const kiv_index_table* table) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return 0;
    const kiv_getter get = table->entries[index].get_fct;
    return get != nullptr ? get() : 0;
}

void kiv_dll_set_int(int32_t index, const kiv_index_table* table, int64_t value) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return;
    const kiv_setter set = table->entries[index].set_fct;
    if (set != nullptr) set(value);
}

// A floating variable is reached through its floating accessors; any other
// through its integer ones, converting (truncating, NaN as 0, saturating).
double kiv_dll_get_float(int32_t index, const kiv_index_table* table) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return 0;
    const fct_pair& entry = table->entries[index];
    if (entry.float_fct.get != nullptr) return entry.float_fct.get();
    return entry.get_fct != nullptr ? static_cast<double>(entry.get_fct()) : 0;
}

void kiv_dll_set_float(int32_t index, const kiv_index_table* table, double value) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return;
    const fct_pair& entry = table->entries[index];
    if (entry.float_fct.set != nullptr) {
        entry.float_fct.set(value);
        return;
    }
    if (entry.set_fct != nullptr) entry.set_fct(kiv_double_to_int64(value));
}

}  // namespace

void kiv_init_harness() {
    if (kiv_is_initialized != 0) return;
    kiv_is_initialized = 1;
    id_set_fct_hash = kiv_create_id_table();
    id_get_fct_hash = kiv_create_id_table();
    kiv_register_all_functions();
}

void kiv_register_single_function(const char* id, kiv_getter getter, kiv_setter setter) {
    if (id == nullptr) return;
    mxx_hashtable_insert(id_get_fct_hash, _strdup(id), kiv_as_value(getter));
    mxx_hashtable_insert(id_set_fct_hash, _strdup(id), kiv_as_value(setter));
}

int32_t kiv_nr_registered_functions(const char* id) {
    kiv_init_harness();
    if (id == nullptr) return 0;
    int32_t count = 0;
    if (mxx_hashtable_find_first(id_get_fct_hash, id) != nullptr) ++count;
    if (mxx_hashtable_find_first(id_set_fct_hash, id) != nullptr) ++count;
    return count;
}

void kiv_register_params(int32_t count, int32_t index, const char* id) {
    kiv_register_object(count, index, id, &kivRegisteredParamFunctions);
}

void kiv_register_inputs(int32_t count, int32_t index, const char* id) {
    kiv_register_object(count, index, id, &kivRegisteredInputFunctions);
}

void kiv_register_outputs(int32_t count, int32_t index, const char* id) {
    kiv_register_object(count, index, id, &kivRegisteredOutputFunctions);
}

void kiv_unregister_params() {
    kiv_release_index_table(&kivRegisteredParamFunctions);
}

void kiv_unregister_inputs() {
    kiv_release_index_table(&kivRegisteredInputFunctions);
}

void kiv_unregister_outputs() {
    kiv_release_index_table(&kivRegisteredOutputFunctions);
}

void kiv_close_harness() {
    mxx_hashtable_free(id_set_fct_hash);
    id_set_fct_hash = nullptr;
    mxx_hashtable_free(id_get_fct_hash);
    id_get_fct_hash = nullptr;
    kiv_release_index_table(&kivRegisteredParamFunctions);
    kiv_release_index_table(&kivRegisteredInputFunctions);
    kiv_release_index_table(&kivRegisteredOutputFunctions);
    kiv_is_initialized = 0;
}

// The twelve exported access functions: per kind, get and set as integer
// and as floating value, each forwarding to its kind's index table.
#define KIV_ACCESS_FUNCTIONS(kind, table)                          \
    int64_t kiv_dll_get_##kind##_int(int32_t index) {              \
        return kiv_dll_get_int(index, &table);                     \
    }                                                              \
    void kiv_dll_set_##kind##_int(int32_t index, int64_t value) {  \
        kiv_dll_set_int(index, &table, value);                     \
    }                                                              \
    double kiv_dll_get_##kind##_float(int32_t index) {             \
        return kiv_dll_get_float(index, &table);                   \
    }                                                              \
    void kiv_dll_set_##kind##_float(int32_t index, double value) { \
        kiv_dll_set_float(index, &table, value);                   \
    }

KIV_ACCESS_FUNCTIONS(param, kivRegisteredParamFunctions)
KIV_ACCESS_FUNCTIONS(input, kivRegisteredInputFunctions)
KIV_ACCESS_FUNCTIONS(output, kivRegisteredOutputFunctions)
