// Tests of the string-keyed hash table: hashing, duplicates, removal, growth
// and release.
#include "harness/mxx_hashtable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr int32_t kRegistryBuckets = 99991;

int32_t text_cmp(const void* stored, const void* probe) {
    return std::strcmp(static_cast<const char*>(stored), static_cast<const char*>(probe));
}

uint32_t hash_first_digit(const void* key) {
    return static_cast<uint32_t>(*static_cast<const char*>(key) - '0');
}

// Release callbacks that log what they receive, in order.
std::vector<std::string> released;

void log_key(void* key) {
    released.push_back(std::string("key ") + static_cast<const char*>(key));
}

void log_value(void* value) {
    released.push_back(std::string("value ") + static_cast<const char*>(value));
}

// Tables whose every key shares one bucket, to test what happens inside it.
struct OneBucketTable : ::testing::Test {
    void SetUp() override {
        released.clear();
        table = mxx_hashtable_create(1, mxx_hash_string, text_cmp, text_cmp);
    }
    void TearDown() override { mxx_hashtable_free(table); }
    const mxx_hashtable_bucket& bucket() const { return table->buckets[0]; }
    void* value_at(int32_t slot) const { return bucket().pairs[slot].value; }

    mxx_hashtable* table = nullptr;
    char key[2] = "k", x[2] = "X", y[2] = "Y", z[2] = "Z";
};

struct CrcRow {
    const char* name;
    std::string text;
    uint32_t crc;
};

// Expected values come from zlib's reflected CRC-32 run from a zero register
// with no final inversion, then bit-reversed.
const CrcRow kCrcRows[] = {
    {"Empty", "", 0x00000000u},
    {"Abc", "abc", 0x0B19A653u},
    {"SingleLetter", "a", 0x738AAD5Cu},
    {"InputId959", "959", 0x8529716Bu},
    {"GoalId1542", "1542", 0x13585398u},
    {"GoalId1892", "1892", 0x6BEF3D25u},
    {"CheckDigits", "123456789", 0x11B4BFB4u},
    {"BytesAbove127", "\xff\x80", 0x4A7E397Eu},
    {"Sentence", "The quick brown fox jumps over the lazy dog", 0x1010639Du},
};

void PrintTo(const CrcRow& row, std::ostream* out) {
    *out << row.name;
}

struct Crc : ::testing::TestWithParam<CrcRow> {};

TEST_P(Crc, HashesTheTextAndPlacesItInItsBucket) {
    const CrcRow& row = GetParam();
    EXPECT_EQ(mxx_hash_string_crc32(row.text.c_str()), row.crc);
    EXPECT_EQ(mxx_hash_string(row.text.c_str()), row.crc);

    // The bucket is the unsigned remainder, also for hashes with bit 31 set.
    mxx_hashtable* table = mxx_hashtable_create(kRegistryBuckets, mxx_hash_string, text_cmp, nullptr);
    char value[] = "v";
    mxx_hashtable_insert(table, const_cast<char*>(row.text.c_str()), value);
    EXPECT_EQ(table->buckets[row.crc % kRegistryBuckets].lastIndex, 0);
    EXPECT_EQ(mxx_hashtable_find_first(table, row.text.c_str()), value);
    mxx_hashtable_free(table);
}

INSTANTIATE_TEST_SUITE_P(KnownValues, Crc, ::testing::ValuesIn(kCrcRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CrcBucket, AbcLandsInBucket47113AndNullHashesToZero) {
    EXPECT_EQ(mxx_hash_string("abc") % kRegistryBuckets, 47113u);
    EXPECT_EQ(mxx_hash_string_crc32(nullptr), 0u);
    EXPECT_EQ(mxx_hash_string(nullptr), 0u);
}

TEST(HashTableCreate, StartsEmptyWithAddressComparisonsForNullOnes) {
    mxx_hashtable* table = mxx_hashtable_create(7, mxx_hash_string, nullptr, nullptr);
    EXPECT_EQ(table->bucketCount, 7);
    EXPECT_EQ(table->keyCmp, &mxx_ptrcmp);
    EXPECT_EQ(table->valueCmp, &mxx_ptrcmp);
    EXPECT_EQ(table->keyFree, nullptr);
    EXPECT_EQ(table->valueFree, nullptr);
    for (int32_t b = 0; b < 7; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(table->buckets[b].capacity, 0);
        EXPECT_EQ(table->buckets[b].lastIndex, -1);
        EXPECT_EQ(table->buckets[b].pairs, nullptr);
    }
    EXPECT_EQ(mxx_hashtable_find_first(table, "abc"), nullptr);
    EXPECT_EQ(mxx_hashtable_find_first(table, nullptr), nullptr);
    mxx_hashtable_free(table);
}

TEST_F(OneBucketTable, KeepsDuplicatesAndFindsTheFirstInserted) {
    mxx_hashtable_insert(table, key, x);
    mxx_hashtable_insert(table, key, y);
    EXPECT_EQ(bucket().lastIndex, 1);
    EXPECT_EQ(mxx_hashtable_find_first(table, "k"), x);
    EXPECT_EQ(mxx_hashtable_find_first(table, "K"), nullptr);
}

TEST_F(OneBucketTable, RemovalFillsTheHoleWithTheLastPair) {
    for (char* value : {x, y, z})
        mxx_hashtable_insert(table, key, value);
    mxx_hashtable_setKeyFree(table, log_key);
    mxx_hashtable_setValueFree(table, log_value);

    EXPECT_EQ(mxx_hashtable_remove(table, "k", "X"), 1);
    EXPECT_EQ(released, (std::vector<std::string>{"key k", "value X"}));
    EXPECT_EQ(bucket().lastIndex, 1);
    EXPECT_EQ(value_at(0), z);
    EXPECT_EQ(value_at(1), y);
    EXPECT_EQ(mxx_hashtable_find_first(table, "k"), z);
    EXPECT_EQ(bucket().capacity, 10);
}

TEST_F(OneBucketTable, RemovingTheLastSlotMovesNothing) {
    for (char* value : {x, y, z})
        mxx_hashtable_insert(table, key, value);
    mxx_hashtable_setKeyFree(table, log_key);
    mxx_hashtable_setValueFree(table, log_value);

    EXPECT_EQ(mxx_hashtable_remove(table, "k", "Z"), 1);
    EXPECT_EQ(released, (std::vector<std::string>{"key k", "value Z"}));
    EXPECT_EQ(bucket().lastIndex, 1);
    EXPECT_EQ(value_at(0), x);
    EXPECT_EQ(value_at(1), y);
}

TEST_F(OneBucketTable, RemovalWithoutAMatchingPairChangesNothing) {
    mxx_hashtable_insert(table, key, x);
    mxx_hashtable_insert(table, key, y);
    mxx_hashtable_setKeyFree(table, log_key);
    mxx_hashtable_setValueFree(table, log_value);

    EXPECT_EQ(mxx_hashtable_remove(table, "k", "Z"), 0);
    EXPECT_EQ(mxx_hashtable_remove(table, "absent", "X"), 0);
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(bucket().lastIndex, 1);
    EXPECT_EQ(value_at(0), x);
    EXPECT_EQ(value_at(1), y);
}

TEST_F(OneBucketTable, GrowsInStepsOfTenAndNeverShrinks) {
    struct Row {
        int inserted;
        int32_t capacity;
    };
    const Row rows[] = {{0, 0}, {1, 10}, {10, 10}, {11, 20}, {20, 20}, {21, 30}};
    int inserted = 0;
    for (const Row& row : rows) {
        while (inserted < row.inserted) {
            mxx_hashtable_insert(table, key, x);
            ++inserted;
        }
        SCOPED_TRACE(row.inserted);
        EXPECT_EQ(bucket().capacity, row.capacity);
        EXPECT_EQ(bucket().lastIndex, row.inserted - 1);
    }
    while (mxx_hashtable_remove(table, "k", "X") == 1) {
    }
    EXPECT_EQ(bucket().lastIndex, -1);
    EXPECT_EQ(bucket().capacity, 30);
}

TEST(HashTableFree, ReleasesKeysThenValuesBucketByBucket) {
    released.clear();
    mxx_hashtable* table = mxx_hashtable_create(2, hash_first_digit, text_cmp, nullptr);
    char a[] = "0", b[] = "0", c[] = "1", va[] = "a", vb[] = "b", vc[] = "c";
    mxx_hashtable_insert(table, c, vc);
    mxx_hashtable_insert(table, a, va);
    mxx_hashtable_insert(table, b, vb);
    mxx_hashtable_setKeyFree(table, log_key);
    mxx_hashtable_setValueFree(table, log_value);
    mxx_hashtable_free(table);
    EXPECT_EQ(released, (std::vector<std::string>{"key 0", "key 0", "value a", "value b", "key 1", "value c"}));
}

TEST(HashTableFree, WithoutCallbacksReleasesOnlyItsOwnStorage) {
    // Keys and values on the stack: freeing any of them would be reported by
    // the sanitizer build; leaking the table's arrays as well.
    released.clear();
    mxx_hashtable* table = mxx_hashtable_create(3, hash_first_digit, text_cmp, nullptr);
    char keys[12][4];
    for (int i = 0; i < 12; ++i) {
        std::snprintf(keys[i], sizeof keys[i], "%d", i % 3);
        mxx_hashtable_insert(table, keys[i], keys[i]);
    }
    mxx_hashtable_free(table);
    mxx_hashtable_free(nullptr);
    EXPECT_TRUE(released.empty());
}

TEST(PointerComparison, ComparesWholeAddresses) {
    struct Row {
        uintptr_t a, b;
        int sign;
    };
    const Row rows[] = {
        {0x1000, 0x1000, 0},           {0x1000, 0x2000, -1},
        {0x2000, 0x1000, 1},           {0x100000000u, 0x0, 1},  // equal in the low 32 bits
        {0x0, 0x100000000u, -1},       {0x7FFF00001234u, 0x000100001234u, 1},
        {0xFFFFFFFF00000000u, 0x1, 1},  // would wrap in a 32-bit difference
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << row.a << " vs " << row.b);
        const int32_t result = mxx_ptrcmp(reinterpret_cast<const void*>(row.a), reinterpret_cast<const void*>(row.b));
        EXPECT_EQ((result > 0) - (result < 0), row.sign);
    }
}

}  // namespace
