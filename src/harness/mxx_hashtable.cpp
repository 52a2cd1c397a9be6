// mxx_hashtable: the string-keyed hash table behind the ID registry.
#include "harness/mxx_hashtable.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int32_t kGrowthStep = 10;
constexpr uint32_t kCrcPolynomial = 0x04C11DB7u;

// The hash is taken as unsigned so that a hash with bit 31 set still maps into
// the table.
int32_t bucket_index(const mxx_hashtable* table, const void* key) {
    const uint32_t hash = table->hashFn(key);
    return static_cast<int32_t>(hash % static_cast<uint32_t>(table->bucketCount));
}

}  // namespace

// The first used slot of the bucket, at or after startIndex, whose key compares
// equal; -1 when there is none.
static int32_t mxx_hashtable_find_elem_index(const mxx_hashtable* table, int32_t bucketIndex, int32_t startIndex,
                                             const void* key) {
    const mxx_hashtable_bucket* bucket = &table->buckets[bucketIndex];
    for (int32_t i = startIndex; i <= bucket->lastIndex; ++i) {
        if (table->keyCmp(bucket->pairs[i].key, key) == 0) return i;
    }
    return -1;
}

mxx_hashtable* mxx_hashtable_create(int32_t bucketCount, mxx_hash_fn hashFn, mxx_cmp_fn keyCmp, mxx_cmp_fn valueCmp) {
    auto* table = static_cast<mxx_hashtable*>(std::malloc(sizeof(mxx_hashtable)));
    table->bucketCount = bucketCount;
    table->hashFn = hashFn;
    table->keyCmp = keyCmp != nullptr ? keyCmp : mxx_ptrcmp;
    table->valueCmp = valueCmp != nullptr ? valueCmp : mxx_ptrcmp;
    table->keyFree = nullptr;
    table->valueFree = nullptr;
    table->buckets = static_cast<mxx_hashtable_bucket*>(
        std::malloc(sizeof(mxx_hashtable_bucket) * static_cast<size_t>(bucketCount)));
    for (int32_t b = 0; b < bucketCount; ++b)
        table->buckets[b] = {0, -1, nullptr};
    return table;
}

void mxx_hashtable_setKeyFree(mxx_hashtable* table, mxx_free_fn fn) {
    table->keyFree = fn;
}

void mxx_hashtable_setValueFree(mxx_hashtable* table, mxx_free_fn fn) {
    table->valueFree = fn;
}

void mxx_hashtable_insert(mxx_hashtable* table, void* key, void* value) {
    mxx_hashtable_bucket* bucket = &table->buckets[bucket_index(table, key)];
    const int32_t slot = bucket->lastIndex + 1;
    if (slot == bucket->capacity) {
        bucket->capacity += kGrowthStep;
        bucket->pairs = static_cast<mxx_hashtable_pair*>(
            std::realloc(bucket->pairs, sizeof(mxx_hashtable_pair) * static_cast<size_t>(bucket->capacity)));
    }
    bucket->pairs[slot] = {key, value};
    bucket->lastIndex = slot;
}

void* mxx_hashtable_find_first(const mxx_hashtable* table, const void* key) {
    const int32_t b = bucket_index(table, key);
    const int32_t slot = mxx_hashtable_find_elem_index(table, b, 0, key);
    return slot < 0 ? nullptr : table->buckets[b].pairs[slot].value;
}

int32_t mxx_hashtable_remove(mxx_hashtable* table, const void* key, const void* value) {
    const int32_t b = bucket_index(table, key);
    mxx_hashtable_bucket* bucket = &table->buckets[b];
    int32_t slot = mxx_hashtable_find_elem_index(table, b, 0, key);
    while (slot >= 0 && table->valueCmp(bucket->pairs[slot].value, value) != 0)
        slot = mxx_hashtable_find_elem_index(table, b, slot + 1, key);
    if (slot < 0) return 0;

    mxx_hashtable_pair& removed = bucket->pairs[slot];
    if (table->keyFree != nullptr) table->keyFree(removed.key);
    if (table->valueFree != nullptr) table->valueFree(removed.value);
    // The hole is filled with the last pair, so slot order is not insertion
    // order after a removal. Storage never shrinks.
    if (slot != bucket->lastIndex) removed = bucket->pairs[bucket->lastIndex];
    --bucket->lastIndex;
    return 1;
}

void mxx_hashtable_free(mxx_hashtable* table) {
    if (table == nullptr) return;
    for (int32_t b = 0; b < table->bucketCount; ++b) {
        mxx_hashtable_bucket& bucket = table->buckets[b];
        if (table->keyFree != nullptr) {
            for (int32_t i = 0; i <= bucket.lastIndex; ++i)
                table->keyFree(bucket.pairs[i].key);
        }
        if (table->valueFree != nullptr) {
            for (int32_t i = 0; i <= bucket.lastIndex; ++i)
                table->valueFree(bucket.pairs[i].value);
        }
        Free(bucket.pairs);
    }
    Free(table->buckets);
    Free(table);
}

uint32_t mxx_hash_string_crc32(const char* text) {
    if (text == nullptr) return 0;
    uint32_t crc = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t messageBit = (byte >> bit) & 1u;
            const uint32_t topBit = crc >> 31;
            crc <<= 1;
            if (topBit != messageBit) crc ^= kCrcPolynomial;
        }
    }
    return crc;
}

uint32_t mxx_hash_string(const void* text) {
    return mxx_hash_string_crc32(static_cast<const char*>(text));
}

int32_t mxx_ptrcmp(const void* a, const void* b) {
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

void Free(void* p) {
    if (p != nullptr) std::free(p);
}
