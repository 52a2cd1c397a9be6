// library.h: loads the harness library the way a host does and resolves every
// export by name, for the black-box tests.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <string>

// One pointer per export of dllharness_exports.def, named like the export.
struct KivLibrary {
    void* handle = nullptr;
#define KIV_EXPORT_DATA(type, name) type* name = nullptr;
#define KIV_EXPORT_FN(ret, name, params, args) ret(*name) params = nullptr;
#include "dllharness_exports.def"
};

template <class Pointer>
bool kiv_resolve(void* handle, const char* name, Pointer* slot) {
    void* symbol = dlsym(handle, name);
    *slot = reinterpret_cast<Pointer>(symbol);
    return symbol != nullptr;
}

// Loads KIV_LIBRARY_PATH and resolves every export; a fatal test failure names
// the library or each missing export. Call under ASSERT_NO_FATAL_FAILURE.
inline void kiv_load_library(KivLibrary* lib) {
    lib->handle = dlopen(KIV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib->handle, nullptr) << "cannot load " KIV_LIBRARY_PATH ": " << dlerror();
    std::string missing;
#define KIV_EXPORT_DATA(type, name) \
    if (!kiv_resolve(lib->handle, #name, &lib->name)) missing += " " #name;
#define KIV_EXPORT_FN(ret, name, params, args) KIV_EXPORT_DATA(ret, name)
#include "dllharness_exports.def"
    ASSERT_TRUE(missing.empty()) << "missing exports:" << missing;
}

// Ends as a host does, closing the harness, then unloads the library, so the
// leak checker of the sanitizer build reports anything the library still
// holds only through its own globals.
inline void kiv_unload_library(KivLibrary* lib) {
    if (lib->kiv_close_harness != nullptr) lib->kiv_close_harness();
    if (lib->handle != nullptr) dlclose(lib->handle);
    *lib = KivLibrary{};
}

// A fixture with the library loaded in `lib`. Every test runs in a process of
// its own, so the library starts from its load-time state.
class KivLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(kiv_load_library(&lib)); }
    void TearDown() override { kiv_unload_library(&lib); }

    KivLibrary lib;
};

template <class Param>
class KivLibraryParamTest : public KivLibraryTest, public ::testing::WithParamInterface<Param> {};
