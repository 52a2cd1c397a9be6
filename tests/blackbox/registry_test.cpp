// Black-box tests of the ID registry: opening, counting, index tables,
// unregistering, closing, and memory over many cycles.
#include "library.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <climits>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

// An allocation the library cannot get must reach it as a null pointer, as
// it does without the sanitizer, rather than end the process.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIV_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KIV_ASAN)
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

const int kWritableIds[] = {959, 961, 963, 966, 968, 970, 980, 986, 990, 992, 994, 1000, 1002, 1004, 1006, 1008};
constexpr int kFirstGoalId = 1542;
constexpr int kLastGoalId = 1892;

// Which registry call comes first must not matter: each opens the registry.
struct FirstCallRow {
    const char* name;
    void (*call)(const KivLibrary& lib);
};
void PrintTo(const FirstCallRow& row, std::ostream* out) {
    *out << row.name;
}

const FirstCallRow kFirstCalls[] = {
    {"Count", [](const KivLibrary& lib) { lib.kiv_nr_registered_functions("1"); }},
    {"RegisterParams", [](const KivLibrary& lib) { lib.kiv_register_params(1, 0, "959"); }},
    {"RegisterInputs", [](const KivLibrary& lib) { lib.kiv_register_inputs(1, 0, "959"); }},
    {"RegisterOutputs", [](const KivLibrary& lib) { lib.kiv_register_outputs(1, 0, "959"); }},
};

using FirstRegistryCall = KivLibraryParamTest<FirstCallRow>;

TEST_P(FirstRegistryCall, OpensTheRegistryWithExactlyTheLibrarysIds) {
    GetParam().call(lib);

    std::map<int, int32_t> expected;
    for (int id : kWritableIds)
        expected[id] = 2;
    for (int id = kFirstGoalId; id <= kLastGoalId; id += 2)
        expected[id] = 1;
    ASSERT_EQ(expected.size(), 192u);

    std::map<int, int32_t> registered;
    for (int id = 0; id <= 3000; ++id) {
        const int32_t count = lib.kiv_nr_registered_functions(std::to_string(id).c_str());
        if (count != 0) registered[id] = count;
    }
    EXPECT_EQ(registered, expected);
}

INSTANTIATE_TEST_SUITE_P(Registry, FirstRegistryCall, ::testing::ValuesIn(kFirstCalls),
                         [](const auto& info) { return std::string(info.param.name); });

struct CountRow {
    const char* name;
    const char* id;
    int32_t count;
};
void PrintTo(const CountRow& row, std::ostream* out) {
    *out << row.name;
}

const CountRow kCounts[] = {
    {"WritableInput", "959", 2},
    {"LastWritableInput", "1008", 2},
    {"GoalFlag", "1542", 1},
    {"LastGoalFlag", "1892", 1},
    {"NumberThatIsNoId", "972", 0},
    {"ScopeUid", "955", 0},
    {"OddNumberAmongGoals", "1543", 0},
    {"EmptyText", "", 0},
    {"LeadingZero", "0959", 0},
    {"LeadingBlank", " 959", 0},
    {"TrailingBlank", "959 ", 0},
    {"PlusSign", "+959", 0},
    {"NullText", nullptr, 0},
};

using RegisteredCount = KivLibraryParamTest<CountRow>;

TEST_P(RegisteredCount, TellsAbsentReadOnlyOrWritable) {
    EXPECT_EQ(lib.kiv_nr_registered_functions(GetParam().id), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegisteredCount, ::testing::ValuesIn(kCounts),
                         [](const auto& info) { return std::string(info.param.name); });

using IndexTable = KivLibraryTest;

// Parameters serve as the independent view of a variable in these tests.
TEST_F(IndexTable, KeepsTheLengthOfTheFirstRegistration) {
    lib.kiv_register_params(2, 0, "961");
    lib.kiv_register_params(2, 1, "963");
    lib.kiv_register_inputs(3, 0, "959");
    lib.kiv_register_inputs(10, 2, "961");
    lib.kiv_dll_set_input_int(2, 12);
    EXPECT_EQ(lib.kiv_dll_get_param_int(0), 12);

    lib.kiv_register_inputs(10, 5, "963");
    lib.kiv_dll_set_input_int(5, 9);
    EXPECT_EQ(lib.kiv_dll_get_input_int(5), 0);
    EXPECT_EQ(lib.kiv_dll_get_param_int(1), 0);
}

TEST_F(IndexTable, AReadOnlyIdGetsItsGetterAndNoSetter) {
    lib.kiv_register_outputs(2, 0, "1542");
    lib.kiv_dll_set_output_int(0, 5);
    lib.kiv_dll_set_output_float(0, 5.0);
    EXPECT_EQ(lib.kiv_dll_get_output_int(0), 0);
}

TEST_F(IndexTable, AnUnknownOrNullIdStoresANullPair) {
    lib.kiv_register_params(1, 0, "959");
    lib.kiv_dll_set_param_int(0, 5);
    for (const char* id : {"972", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(id == nullptr ? "null" : id);
        lib.kiv_register_inputs(1, 0, "959");
        lib.kiv_register_inputs(1, 0, id);
        EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
        EXPECT_EQ(lib.kiv_dll_get_input_float(0), 0.0);
        lib.kiv_dll_set_input_int(0, 6);
        lib.kiv_dll_set_input_float(0, 6.0);
        EXPECT_EQ(lib.kiv_dll_get_param_int(0), 5);
    }
}

TEST_F(IndexTable, ARegistrationAgainOverwritesTheEntry) {
    lib.kiv_register_params(1, 0, "961");
    lib.kiv_register_inputs(1, 0, "959");
    lib.kiv_register_inputs(1, 0, "961");
    lib.kiv_dll_set_input_int(0, 33);
    EXPECT_EQ(lib.kiv_dll_get_param_int(0), 33);
}

// Above 2^24 entries a table is not allocated: the kind is left without one.
TEST_F(IndexTable, AFirstCountBelowOneOrTooLargeToAllocateLeavesNoTable) {
    lib.kiv_register_params(1, 0, "959");
    lib.kiv_dll_set_param_int(0, 5);
    for (int32_t count : {0, -1, INT32_MIN, INT32_MAX, (1 << 24) + 1}) {
        SCOPED_TRACE(count);
        lib.kiv_register_inputs(count, 0, "959");
        EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
    }
    // The next registration is then the first, and its count holds.
    lib.kiv_register_inputs(2, 1, "959");
    EXPECT_EQ(lib.kiv_dll_get_input_int(1), 5);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
}

TEST_F(IndexTable, AnIndexOutsideTheTableIsNeitherRegisteredNorAccessed) {
    lib.kiv_register_params(1, 0, "961");
    lib.kiv_dll_set_param_int(0, 7);
    lib.kiv_register_inputs(2, 0, "959");
    lib.kiv_dll_set_input_int(0, 3);
    for (int32_t index : {2, 100, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(index);
        lib.kiv_register_inputs(2, index, "961");
        EXPECT_EQ(lib.kiv_dll_get_input_int(index), 0);
        EXPECT_EQ(lib.kiv_dll_get_input_float(index), 0.0);
        lib.kiv_dll_set_input_int(index, 8);
        lib.kiv_dll_set_input_float(index, 8.0);
        EXPECT_EQ(lib.kiv_dll_get_param_int(0), 7);
        EXPECT_EQ(lib.kiv_dll_get_input_int(0), 3);
    }
}

TEST_F(IndexTable, AnEntryNeverRegisteredReadsZero) {
    lib.kiv_register_inputs(3, 0, "959");
    lib.kiv_dll_set_input_int(0, 4);
    lib.kiv_dll_set_input_int(1, 4);
    EXPECT_EQ(lib.kiv_dll_get_input_int(1), 0);
    EXPECT_EQ(lib.kiv_dll_get_input_float(2), 0.0);
}

TEST_F(IndexTable, AccessToAKindWithoutTableDoesNothing) {
    EXPECT_EQ(lib.kiv_dll_get_param_int(0), 0);
    EXPECT_EQ(lib.kiv_dll_get_output_float(0), 0.0);
    lib.kiv_dll_set_input_int(0, 1);
    lib.kiv_dll_set_param_float(0, 1.0);

    lib.kiv_register_inputs(1, 0, "959");
    lib.kiv_unregister_inputs();
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
    lib.kiv_dll_set_input_int(0, 1);
}

TEST_F(IndexTable, UnregisteringIsHarmlessWhenThereIsNothingToRelease) {
    lib.kiv_unregister_params();
    lib.kiv_unregister_inputs();
    lib.kiv_unregister_outputs();
    lib.kiv_register_outputs(1, 0, "959");
    lib.kiv_unregister_outputs();
    lib.kiv_unregister_outputs();
    EXPECT_EQ(lib.kiv_nr_registered_functions("959"), 2);
}

TEST_F(IndexTable, AfterUnregisteringTheNextRegistrationStartsANewTable) {
    lib.kiv_register_params(1, 0, "959");
    lib.kiv_register_inputs(1, 0, "959");
    lib.kiv_unregister_inputs();
    lib.kiv_register_inputs(3, 2, "959");
    lib.kiv_dll_set_input_int(2, 21);
    EXPECT_EQ(lib.kiv_dll_get_input_int(2), 21);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
    // The other kinds keep their tables.
    EXPECT_EQ(lib.kiv_dll_get_param_int(0), 21);
}

using Closing = KivLibraryTest;

TEST_F(Closing, AHarnessNeverOpenedCanBeClosedTwice) {
    lib.kiv_close_harness();
    lib.kiv_close_harness();
    EXPECT_EQ(lib.kiv_nr_registered_functions("959"), 2);
}

TEST_F(Closing, ReleasesTheIndexTablesAndReopensOnTheNextCall) {
    lib.kiv_register_inputs(1, 0, "959");
    lib.kiv_register_outputs(1, 0, "1542");
    lib.kiv_dll_set_input_int(0, 7);
    lib.kiv_close_harness();

    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
    EXPECT_EQ(lib.kiv_nr_registered_functions("959"), 2);
    EXPECT_EQ(lib.kiv_nr_registered_functions("1542"), 1);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);

    // Variables outlive the registry.
    lib.kiv_register_inputs(2, 1, "959");
    EXPECT_EQ(lib.kiv_dll_get_input_int(1), 7);
    lib.kiv_close_harness();
    lib.kiv_close_harness();
    lib.kiv_register_outputs(1, 0, "959");
    EXPECT_EQ(lib.kiv_dll_get_output_int(0), 7);
}

// Heap bytes in use, mapped blocks included. Chunks the allocator caches for
// reuse count as in use, so this moves by a few kilobytes without any leak.
size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Under LeakSanitizer (the sanitizer build) anything lost is reported at exit,
// and the library is unloaded first so its globals hold nothing alive. In the
// normal build a leak in every cycle would grow the heap by at least a
// thousand of the smallest chunks (32 bytes each), far beyond the allocator's
// cache.
TEST_F(Closing, AThousandOpenRegisterCloseCyclesLoseNothing) {
    auto cycle = [this] {
        lib.kiv_register_params(4, 0, "959");
        lib.kiv_register_inputs(2, 1, "966");
        lib.kiv_register_outputs(176, 175, "1892");
        lib.kiv_unregister_params();
        lib.kiv_unregister_inputs();
        lib.kiv_register_inputs(1, 0, "961");
        lib.kiv_close_harness();
    };
    cycle();
    const size_t before = heap_in_use();
    for (int i = 0; i < 1000; ++i)
        cycle();
    const size_t after = heap_in_use();
    EXPECT_LT(after > before ? after - before : 0, 16u * 1000u);
}

}  // namespace
