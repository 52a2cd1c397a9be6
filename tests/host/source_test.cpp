// Tests of coverage on the source: the catalog's probe positions generated from
// the unit sources, and the reports that place goals on them.
#include "host_test.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using kivtest::read_file;

// A copy of the repository's unit sources with one edit, and what catalog_gen says of it.
struct DoctoredSource {
    const char* name;
    const char* from;  // text in seat_heating_control.cpp
    const char* to;
    int code;
    const char* says;  // in its diagnostic; empty when it must succeed
};

class CatalogGenOnSources : public ::testing::TestWithParam<DoctoredSource> {};

TEST_P(CatalogGenOnSources, NamesTheRecordOfEveryMisplacedProbeCall) {
    const DoctoredSource& d = GetParam();
    const fs::path root = fs::path(::testing::TempDir()) / ("catalog_gen_" + std::to_string(getpid()));
    fs::create_directories(root / "src/unit");
    std::string controller = read_file(KIV_SOURCE_DIR "/src/unit/seat_heating_control.cpp");
    const auto at = controller.find(d.from);
    ASSERT_NE(at, std::string::npos) << d.from;
    controller.replace(at, std::string(d.from).size(), d.to);
    std::ofstream(root / "src/unit/seat_heating_control.cpp") << controller;
    fs::copy_file(KIV_SOURCE_DIR "/src/unit/Wrapper_seat_heating_control.cpp",
                  root / "src/unit/Wrapper_seat_heating_control.cpp", fs::copy_options::overwrite_existing);
    const std::string out = (root / "catalog.json").string(), err = (root / "stderr.txt").string();
    const int status = std::system((std::string(KIV_CATALOG_GEN_PATH) + " " + out + " " + root.string() + " " +
                                    (root / "src/unit/Wrapper_seat_heating_control.cpp").string() + " " +
                                    (root / "src/unit/seat_heating_control.cpp").string() + " 2>" + err)
                                       .c_str());
    const std::string said = read_file(err);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, d.code) << said;
    if (*d.says)
        EXPECT_NE(said.find(d.says), std::string::npos) << said;
    else  // the sources as they are give the very catalog the build installed
        EXPECT_EQ(read_file(out), read_file(KIV_CATALOG_PATH));
    fs::remove_all(root);
}

const DoctoredSource kDoctored[] = {
    {"Unchanged", "", "", 0, ""},
    {"RecordInNoCall", "IXA_STM(5, &TU18ixa_stm_cond5);", "", 1,
     "probe record TU18ixa_stm_cond5 is used in no probe call"},
    {"RecordInTwoCalls", "IXA_STM(5, &TU18ixa_stm_cond5);",
     "IXA_STM(5, &TU18ixa_stm_cond5); IXA_STM(5, &TU18ixa_stm_cond5);", 1,
     "probe record TU18ixa_stm_cond5 is used in 2 probe calls: src/unit/seat_heating_control.cpp:51:5 "
     "src/unit/seat_heating_control.cpp:51:37"},
    {"ConditionNotObserved", "IXA_CC_U(1, &TU18ixa_cc_cond1, ButtonPressed) &&",
     "ButtonPressed && IXA_CC_U(1, &TU18ixa_cc_cond1, ButtonPressed) &&", 1,
     "src/unit/seat_heating_control.cpp:33:26: decision TU18ixa_dc_cond1 has an operand that is not a condition probe"},
};
INSTANTIATE_TEST_SUITE_P(Doctored, CatalogGenOnSources, ::testing::ValuesIn(kDoctored),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
