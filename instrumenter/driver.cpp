// The clang set-up every kivinst command shares.
#include "driver.h"

#include <filesystem>
#include <set>

#include <clang/Basic/SourceManager.h>

namespace kivinst {

std::vector<std::string> clang_arguments(const std::vector<std::string>& compiler_args) {
    std::vector<std::string> args;
#ifdef KIVINST_RESOURCE_DIR
    args = {"-resource-dir", KIVINST_RESOURCE_DIR};
#endif
    args.insert(args.end(), compiler_args.begin(), compiler_args.end());
    return args;
}

std::vector<std::string> opened_files(const clang::SourceManager& sm) {
    namespace fs = std::filesystem;
    std::set<std::string> files;
    for (auto it = sm.fileinfo_begin(); it != sm.fileinfo_end(); ++it) {
        std::error_code ec;
        const fs::path p = fs::absolute(it->first->getName().str(), ec);
        if (!ec) files.insert(p.lexically_normal().string());
    }
    return {files.begin(), files.end()};
}

}  // namespace kivinst
