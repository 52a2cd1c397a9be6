// How every kivinst command runs clang on a unit: the unit's own flags, with
// clang's headers (stddef.h, stdbool.h) found where this kivinst was built
// against them, since it is not installed beside clang.
#pragma once

#include <string>
#include <vector>

#include <clang/Tooling/CompilationDatabase.h>
#include <clang/Tooling/Tooling.h>

namespace clang {
class SourceManager;
}

namespace kivinst {

// The compiler arguments a parse takes: the unit's, after kivinst's own.
std::vector<std::string> clang_arguments(const std::vector<std::string>& compiler_args);

// A parse of sources with the unit's flags, in the current folder.
class Parse {
public:
    Parse(const std::vector<std::string>& compiler_args, const std::vector<std::string>& sources)
        : db_(".", clang_arguments(compiler_args)), tool_(db_, sources) {}
    clang::tooling::ClangTool& tool() { return tool_; }

private:
    clang::tooling::FixedCompilationDatabase db_;
    clang::tooling::ClangTool tool_;
};

// Every file the source manager read (the source, its headers at any depth,
// system ones too), absolute and sorted: what a build has to watch.
std::vector<std::string> opened_files(const clang::SourceManager& sm);

}  // namespace kivinst
