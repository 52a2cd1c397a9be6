// The catalog reader against a generated catalog with one field spoiled: a
// number that is no 32-bit integer is refused with the file and the field.
#include "kivrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host_test.h"

namespace {

struct Spoiled {
    const char* name;
    const char* pointer;  // JSON pointer of the field
    const char* value;    // JSON text put there
    const char* says;     // the field as the error names it
};

const Spoiled kSpoiled[] = {
    {"FloatBeyondTheRange", "/scopes/0/uid", "1e10", "scopes[0].uid"},
    {"FloatWithinTheRange", "/goals/3/goal", "5.0", "goals[3].goal"},
    {"WrapsTo1In32Bits", "/scopes/0/uid", "4294967297", "scopes[0].uid"},
    {"BelowTheRange", "/inputs/2/id", "-2147483649", "inputs[2].id"},
    {"Boolean", "/scopes/0/uid", "true", "scopes[0].uid"},
    {"Text", "/outputs/1/scope", "\"955\"", "outputs[1].scope"},
    {"BooleanInAList", "/scopes/1/inputs/0", "true", "scopes[1].inputs[0]"},
    {"Null", "/goals/0/id", "null", "goals[0].id"},
};

class SpoiledCatalog : public testing::TestWithParam<Spoiled> {};

TEST_P(SpoiledCatalog, IsRefusedNamingTheFileAndTheField) {
    auto j = nlohmann::json::parse(kivtest::read_file(KIV_CATALOG_PATH));
    j[nlohmann::json::json_pointer(GetParam().pointer)] = nlohmann::json::parse(GetParam().value);
    const std::string path = kivtest::write_file(std::string(GetParam().name) + ".catalog.json", j.dump());
    try {
        kiv::load_catalog(path);
        FAIL() << "accepted " << GetParam().pointer << " = " << GetParam().value;
    } catch (const kiv::Error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(path), std::string::npos) << what;
        EXPECT_NE(what.find(std::string(GetParam().says) + ": "), std::string::npos) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalog, SpoiledCatalog, testing::ValuesIn(kSpoiled),
                         [](const testing::TestParamInfo<Spoiled>& p) { return std::string(p.param.name); });

// A catalog that does not describe the library is refused. One written
// beside this very build is trusted to list its IDs, so only the IDs it names
// are looked up; any other catalog is checked against the library's IDs.
struct Mismatch {
    const char* name;
    const char* library;  // the catalog's "library"; null: as written, "": none
    bool drop_goal;       // the catalog loses goal 0, which the library still has
    const char* says;
};

const Mismatch kMismatches[] = {
    {"ThisBuildNamingAGoalTheLibraryLacks", nullptr, false, "is not a read-only goal of the library"},
    {"OlderCatalogMissingAGoal", "", true, "is not in the catalog"},
    {"OtherBuildMissingAGoal", "build-id:00", true, "is not in the catalog"},
};

class MismatchedCatalog : public testing::TestWithParam<Mismatch> {};

TEST_P(MismatchedCatalog, IsRefused) {
    const Mismatch& m = GetParam();
    auto j = nlohmann::json::parse(kivtest::read_file(KIV_CATALOG_PATH));
    ASSERT_TRUE(j.contains("library"));
    if (m.library && !*m.library) j.erase("library");
    if (m.library && *m.library) j["library"] = m.library;
    if (m.drop_goal)
        j["goals"].erase(0);
    else
        j["goals"][0]["id"] = 99999;
    const std::string path = kivtest::write_file(std::string(m.name) + ".catalog.json", j.dump());
    try {
        kiv::Target target(KIV_LIBRARY_PATH, path);
        FAIL() << "accepted " << path;
    } catch (const kiv::Error& e) {
        EXPECT_NE(std::string(e.what()).find(m.says), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Catalog, MismatchedCatalog, testing::ValuesIn(kMismatches),
                         [](const testing::TestParamInfo<Mismatch>& p) { return std::string(p.param.name); });

}  // namespace
