// The check that an instrumented source compiles where it will be written,
// against the probe runtime's headers as this kivinst knows them.
#include "instrument.h"

#include "driver.h"

#include <filesystem>

#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/FileManager.h>
#include <clang/Basic/SourceManager.h>
#include <clang/Frontend/FrontendActions.h>
#include <clang/Frontend/TextDiagnosticPrinter.h>
#include <clang/Lex/LexDiagnostic.h>
#include <clang/Tooling/Tooling.h>
#include <llvm/Support/VirtualFileSystem.h>

namespace kivinst {
namespace {

using namespace clang;

// The probe runtime's headers as this kivinst knows them, so the check does
// not depend on where (or whether) they are installed.
#include "probe_headers.inc"

// Passes the compiler's diagnostics on as they are and notes the includes it
// could not find, so that a header missing from the output's surroundings is
// told apart from output that does not compile.
class MissingIncludes : public TextDiagnosticPrinter {
public:
    MissingIncludes(DiagnosticOptions* opts, std::vector<std::string>& missing)
        : TextDiagnosticPrinter(llvm::errs(), opts), missing_(missing) {}
    void HandleDiagnostic(DiagnosticsEngine::Level level, const Diagnostic& info) override {
        TextDiagnosticPrinter::HandleDiagnostic(level, info);
        if (info.getID() != diag::err_pp_file_not_found || !info.hasSourceManager()) return;
        const PresumedLoc at = info.getSourceManager().getPresumedLoc(info.getLocation());
        if (at.isInvalid()) return;
        missing_.push_back(std::string(at.getFilename()) + ":" + std::to_string(at.getLine()) + ":" +
                           std::to_string(at.getColumn()) + ": " + info.getArgStdStr(0));
    }

private:
    std::vector<std::string>& missing_;
};

}  // namespace

bool compiles(const Options& options, const std::string& source, const std::string& records,
              std::vector<std::string>& missing) {
    namespace fs = std::filesystem;
    const std::string probes = "/kivinst-probe-runtime";
    std::vector<std::string> unit_args = {"-I" + probes};
    unit_args.insert(unit_args.end(), options.output_args.begin(), options.output_args.end());
    unit_args.insert(unit_args.end(), options.compiler_args.begin(), options.compiler_args.end());
    const std::vector<std::string> args = clang_arguments(unit_args);
    // The output is checked where it will be compiled: beside its record table.
    fs::path at = options.output.empty() ? fs::path(options.source).parent_path() / "kivinst_output.c" : fs::path(options.output);
    at = fs::absolute(at).lexically_normal();
    const std::string file = at.string();
    auto overlay = llvm::makeIntrusiveRefCnt<llvm::vfs::OverlayFileSystem>(llvm::vfs::getRealFileSystem());
    auto memory = llvm::makeIntrusiveRefCnt<llvm::vfs::InMemoryFileSystem>();
    overlay->pushOverlay(memory);
    auto files = llvm::makeIntrusiveRefCnt<FileManager>(FileSystemOptions(), overlay);
    memory->addFile(file, 0, llvm::MemoryBuffer::getMemBufferCopy(source));
    memory->addFile(probes + "/instrumentation/CodeAnnotation.h", 0, llvm::MemoryBuffer::getMemBuffer(kCodeAnnotationH));
    memory->addFile(probes + "/instrumentation/probe_records.h", 0, llvm::MemoryBuffer::getMemBuffer(kProbeRecordsH));
    memory->addFile(probes + "/instrumentation/probe_kinds.def", 0, llvm::MemoryBuffer::getMemBuffer(kProbeKindsDef));
    memory->addFile((at.parent_path() / options.records_include).string(), 0, llvm::MemoryBuffer::getMemBufferCopy(records));
    std::vector<std::string> command = {"kivinst", "-fsyntax-only"};
    command.insert(command.end(), args.begin(), args.end());
    // As C whatever its name ends in (-o out.txt).
    command.insert(command.end(), {"-x", "c", file});
    auto diag_opts = llvm::makeIntrusiveRefCnt<DiagnosticOptions>();
    diag_opts->ShowPresumedLoc = true;  // the plain file's positions, through #line
    MissingIncludes printer(diag_opts.get(), missing);
    tooling::ToolInvocation check(command, std::make_unique<SyntaxOnlyAction>(), files.get(),
                                  std::make_shared<PCHContainerOperations>());
    check.setDiagnosticConsumer(&printer);
    return check.run();
}

}  // namespace kivinst
