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
// The longest index table a first registration may ask for (128 MB of
// entries): a longer one is refused like one that cannot be allocated,
// rather than reserving what the system may grant and never back.
constexpr int32_t kMaxIndexTableLength = 1 << 24;

// An index table and the length its kind's first registration gave it; both
// zero while the kind has no table, so the bounds check also covers that case.
// An entry is null for an ID that is not registered.
struct kiv_index_table {
    const kiv_id_entry** entries;
    int32_t length;
};

int32_t kiv_is_initialized;
mxx_hashtable* id_hash;  // ID text -> its kiv_id_entry
kiv_index_table kivRegisteredParamFunctions;
kiv_index_table kivRegisteredInputFunctions;
kiv_index_table kivRegisteredOutputFunctions;

int32_t kiv_key_strcmp(const void* stored, const void* probe) {
    return std::strcmp(static_cast<const char*>(stored), static_cast<const char*>(probe));
}

const kiv_id_entry* kiv_find(const char* id) {
    return static_cast<const kiv_id_entry*>(mxx_hashtable_find_first(id_hash, id));
}

void kiv_release_index_table(kiv_index_table* table) {
    Free(static_cast<void*>(table->entries));
    *table = {nullptr, 0};
}

// The common body of the three register functions. The first registration of
// a kind fixes its table length; an index outside the table, a first count
// below 1, above kMaxIndexTableLength or too large to allocate changes
// nothing. A null or unknown ID stores a null entry.
void kiv_register_object(int32_t count, int32_t index, const char* id, kiv_index_table* table) {
    kiv_init_harness();
    if (table->entries == nullptr) {
        if (count < 1 || count > kMaxIndexTableLength) return;
        auto* entries = static_cast<const kiv_id_entry**>(std::calloc(static_cast<size_t>(count), sizeof(kiv_id_entry*)));
        if (entries == nullptr) return;  // the length must never describe a table that is not there
        *table = {entries, count};
    }
    if (index < 0 || index >= table->length) return;
    table->entries[index] = id == nullptr ? nullptr : kiv_find(id);
}

template <class T>
T kiv_read(const kiv_id_entry& e) {
    return *static_cast<const T*>(e.variable);
}

template <class T>
void kiv_write(const kiv_id_entry& e, T value) {
    *static_cast<T*>(e.variable) = value;
}

// An integer read: C's conversion to 64 bits; a floating variable truncates
// and saturates (NaN reads 0).
int64_t kiv_load_int(const kiv_id_entry& e) {
    switch (e.type) {
        case kiv_type::I8: return kiv_read<int8_t>(e);
        case kiv_type::U8: return kiv_read<uint8_t>(e);
        case kiv_type::I16: return kiv_read<int16_t>(e);
        case kiv_type::U16: return kiv_read<uint16_t>(e);
        case kiv_type::I32: return kiv_read<int32_t>(e);
        case kiv_type::U32: return kiv_read<uint32_t>(e);
        case kiv_type::I64: return kiv_read<int64_t>(e);
        case kiv_type::U64: return static_cast<int64_t>(kiv_read<uint64_t>(e));
        case kiv_type::BOOL: return kiv_read<bool>(e) ? 1 : 0;
        case kiv_type::F32: return kiv_double_to_int64(static_cast<double>(kiv_read<float>(e)));
        case kiv_type::F64: return kiv_double_to_int64(kiv_read<double>(e));
    }
    return 0;
}

// An integer write by the entry's setter rule: C's conversion to the
// variable's type, or 1 for any non-zero value. A read-only entry is not written.
void kiv_store_int(const kiv_id_entry& e, int64_t value) {
    if (e.setter == kiv_setter_rule::NONE) return;
    if (e.setter == kiv_setter_rule::BOOL) value = value != 0 ? 1 : 0;
    switch (e.type) {
        case kiv_type::I8: return kiv_write(e, static_cast<int8_t>(value));
        case kiv_type::U8: return kiv_write(e, static_cast<uint8_t>(value));
        case kiv_type::I16: return kiv_write(e, static_cast<int16_t>(value));
        case kiv_type::U16: return kiv_write(e, static_cast<uint16_t>(value));
        case kiv_type::I32: return kiv_write(e, static_cast<int32_t>(value));
        case kiv_type::U32: return kiv_write(e, static_cast<uint32_t>(value));
        case kiv_type::I64: return kiv_write(e, value);
        case kiv_type::U64: return kiv_write(e, static_cast<uint64_t>(value));
        case kiv_type::BOOL: return kiv_write(e, value != 0);
        case kiv_type::F32: return kiv_write(e, static_cast<float>(value));
        case kiv_type::F64: return kiv_write(e, static_cast<double>(value));
    }
}

bool kiv_is_floating(const kiv_id_entry& e) {
    return e.type == kiv_type::F32 || e.type == kiv_type::F64;
}

// Access by index: one bounds check (which also rejects a kind without a
// table), one load, one switch on the variable's type. Entries never
// registered are null.
int64_t kiv_dll_get_int(int32_t index, const kiv_index_table* table) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return 0;
    const kiv_id_entry* e = table->entries[index];
    return e != nullptr ? kiv_load_int(*e) : 0;
}

void kiv_dll_set_int(int32_t index, const kiv_index_table* table, int64_t value) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return;
    if (const kiv_id_entry* e = table->entries[index]) kiv_store_int(*e, value);
}

// A double reaches a floating variable unchanged (by C's conversion to float);
// any other through the integer access, converting (truncating, NaN as 0,
// saturating).
double kiv_dll_get_float(int32_t index, const kiv_index_table* table) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return 0;
    const kiv_id_entry* e = table->entries[index];
    if (e == nullptr) return 0;
    if (e->type == kiv_type::F32) return static_cast<double>(kiv_read<float>(*e));
    if (e->type == kiv_type::F64) return kiv_read<double>(*e);
    return static_cast<double>(kiv_load_int(*e));
}

void kiv_dll_set_float(int32_t index, const kiv_index_table* table, double value) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(table->length)) return;
    const kiv_id_entry* e = table->entries[index];
    if (e == nullptr || e->setter == kiv_setter_rule::NONE) return;
    if (!kiv_is_floating(*e)) return kiv_store_int(*e, kiv_double_to_int64(value));
    if (e->setter == kiv_setter_rule::BOOL) value = value != 0 ? 1 : 0;
    if (e->type == kiv_type::F32)
        kiv_write(*e, static_cast<float>(value));
    else
        kiv_write(*e, value);
}

}  // namespace

void kiv_init_harness() {
    if (kiv_is_initialized != 0) return;
    kiv_is_initialized = 1;
    id_hash = mxx_hashtable_create(kRegistryBuckets, mxx_hash_string, kiv_key_strcmp, nullptr);
    mxx_hashtable_setKeyFree(id_hash, std::free);
    kiv_register_all_functions();
}

void kiv_register_single_id(const kiv_id_entry* entry) {
    if (entry == nullptr || entry->id == nullptr) return;
    mxx_hashtable_insert(id_hash, _strdup(entry->id), const_cast<kiv_id_entry*>(entry));
}

int32_t kiv_nr_registered_functions(const char* id) {
    kiv_init_harness();
    if (id == nullptr) return 0;
    const kiv_id_entry* e = kiv_find(id);
    if (e == nullptr) return 0;
    return e->setter == kiv_setter_rule::NONE ? 1 : 2;
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
    mxx_hashtable_free(id_hash);
    id_hash = nullptr;
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
