// mxx_hashtable: a separately chained hash table from opaque keys to opaque
// values, with a fixed bucket count and buckets that are growable arrays.
#pragma once

#include <cstdint>

using mxx_hash_fn = uint32_t (*)(const void* key);
// 0 when equal; the stored key or value comes first, the probe second.
using mxx_cmp_fn = int32_t (*)(const void* stored, const void* probe);
using mxx_free_fn = void (*)(void* item);

struct mxx_hashtable_pair {
    void* key;
    void* value;
};

// Used slots are 0..lastIndex with no holes; capacity is a multiple of 10.
struct mxx_hashtable_bucket {
    int32_t capacity;           // slots allocated in pairs
    int32_t lastIndex;          // -1 while the bucket is empty
    mxx_hashtable_pair* pairs;  // null until the first insertion
};

struct mxx_hashtable {
    int32_t bucketCount;  // fixed at creation, at least 1
    mxx_hash_fn hashFn;
    mxx_cmp_fn keyCmp;
    mxx_cmp_fn valueCmp;    // used only by removal
    mxx_free_fn keyFree;    // called on a key as its pair leaves the table, or null
    mxx_free_fn valueFree;  // called on a value as its pair leaves the table, or null
    mxx_hashtable_bucket* buckets;
};

// A new empty table; a null comparison stands for mxx_ptrcmp. hashFn must be
// set and bucketCount at least 1. Allocation results are not tested.
mxx_hashtable* mxx_hashtable_create(int32_t bucketCount, mxx_hash_fn hashFn, mxx_cmp_fn keyCmp, mxx_cmp_fn valueCmp);
// Release callbacks apply to pairs that leave the table afterwards; null clears.
void mxx_hashtable_setKeyFree(mxx_hashtable* table, mxx_free_fn fn);
void mxx_hashtable_setValueFree(mxx_hashtable* table, mxx_free_fn fn);
// Appends the pair to its bucket without looking for the key: duplicates are
// kept, and lookups find the one inserted first. Nothing is copied.
void mxx_hashtable_insert(mxx_hashtable* table, void* key, void* value);
// The value of the first pair whose key compares equal, or null when there is
// none (a stored null value looks the same).
void* mxx_hashtable_find_first(const mxx_hashtable* table, const void* key);
// Removes the first pair whose key and value both compare equal, releasing that
// pair through the callbacks and moving the bucket's last pair into its slot.
// 1 when a pair was removed, 0 when none matched (the table is then unchanged).
int32_t mxx_hashtable_remove(mxx_hashtable* table, const void* key, const void* value);
// Releases every key, then every value, of each bucket through the callbacks,
// then all storage. A null table is ignored; the caller's pointer dangles after.
void mxx_hashtable_free(mxx_hashtable* table);

// CRC-32 (polynomial 0x04C11DB7, initial 0, bytes fed least significant bit
// first, result not reflected, no final XOR) of a zero-terminated byte string;
// 0 for null and for the empty text.
uint32_t mxx_hash_string_crc32(const char* text);
// mxx_hash_string_crc32 in the shape of a hash function for a table of texts.
uint32_t mxx_hash_string(const void* text);
// Orders two addresses as whole addresses: negative, 0 when equal, positive.
int32_t mxx_ptrcmp(const void* a, const void* b);
// free, skipping null.
void Free(void* p);
