// Any bytes given to kivrun's readers of user files, the suite reader, the
// result reader, the reader of kivinst's open goals and the ReqIF reader, end in a result or in kiv::Error (or
// located diagnostics): never a crash, a hang or another exception. Under clang this is a libFuzzer entry; elsewhere a
// small main replays the files and folders it is given, so the entry is
// compiled and run in every build.
#include "catalog/catalog.h"
#include "error.h"
#include "load/target.h"
#include "formats/json/result_json.h"
#include "suite/plan.h"
#include "suite/suite.h"
#include "suite/unproven.h"
#include "trace/requirements.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Read once: the schema every suite is checked against.
    // The schema points into the catalog, which must outlive it.
    static const kiv::Catalog catalog = kiv::load_catalog(KIV_CATALOG_PATH);
    static const kiv::Schema schema = kiv::Schema::of(catalog);
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        kiv::Plan plan;
        kiv::parse_suite("fuzz.csv", text, schema, {}, plan);
    } catch (const kiv::Error&) {
    }
    try {
        kiv::parse_unproven("fuzz.unproven.csv", text, schema);
    } catch (const kiv::Error&) {
    }
    try {
        std::istringstream in(text);
        kiv::read_json(in, "fuzz.json");
    } catch (const kiv::Error&) {
    }
    std::vector<kiv::Requirement> requirements;
    std::vector<kiv::Diagnostic> diags;
    kiv::detail::read_reqif_text(text, "fuzz.reqif", {}, requirements, diags);
    return 0;
}

#ifndef KIV_LIBFUZZER
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

// Replays each file given, and each file in each folder given.
int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t runs = 0;
    const auto replay = [&](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++runs;
    };
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& e : fs::directory_iterator(argv[i]))
                if (e.is_regular_file()) replay(e.path());
        } else {
            replay(argv[i]);
        }
    }
    std::cout << "replayed " << runs << " inputs\n";
    return runs ? 0 : 1;
}
#endif
