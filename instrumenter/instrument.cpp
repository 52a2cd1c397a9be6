// The instrumenting pass: the unit is parsed once, its configuration watched
// as the preprocessor runs (configuration.cpp), every function walked for
// probes (probe_walk.h), the behaviour prover run on the result (prove/), and
// the instrumented source put together with the checks that pin it to its
// configuration. Probes are inserted on the lines of what they wrap, never
// with new lines, so line numbers of the plain and the instrumented source
// agree (#line 1 below).
#include "instrument.h"

#include "configuration.h"
#include "driver.h"
#include "files.h"
#include "probe_walk.h"
#include "prove/prove.h"

#include <memory>
#include <sstream>

#include <clang/AST/ASTConsumer.h>
#include <clang/Basic/LangStandard.h>
#include <clang/Frontend/CompilerInstance.h>
#include <clang/Frontend/FrontendAction.h>
#include <clang/Lex/Preprocessor.h>

namespace kivinst {
namespace {

using namespace clang;

class Consumer : public ASTConsumer {
public:
    Consumer(const Options& options, Output& out, bool& done, const std::map<unsigned, char>& conditionals)
        : options_(options), out_(out), done_(done), conditionals_(conditionals) {}
    void HandleTranslationUnit(ASTContext& ctx) override {
        if (ctx.getDiagnostics().hasErrorOccurred()) return;
        // The probes are inline functions taking 64-bit integers, and the
        // output has // comments: none of that is C90.
        if (!ctx.getLangOpts().C99) {
            out_.refusal = "the unit is compiled as " +
                           std::string(LangStandard::getLangStandardForKind(ctx.getLangOpts().LangStd).getDescription()) +
                           ", and the instrumented unit needs C99 or later (inline probes, long long, // comments): "
                           "instrument and build it with -std=c99 or later (or -std=gnu99)";
            return;
        }
        const auto probes = walk_probes(ctx, options_, out_, conditionals_);
        if (!options_.prove.entries.empty()) behaviour(ctx, probes);
        done_ = true;
    }

    // The prover's findings join the ranges' on each record, marked as its.
    void behaviour(ASTContext& ctx, const std::map<std::size_t, prove::Probe>& probes) {
        const prove::Report rep = prove::analyse(ctx, options_.prove, probes);
        out_.proof.complete = rep.complete;
        out_.proof.why_not = rep.why_not;
        out_.proof.invariant = rep.invariant;
        out_.proof.rounds = rep.rounds;
        out_.proof.not_within = rep.not_within;
        for (const auto& [index, flags] : rep.unreachable)
            for (const auto& [flag, why] : flags) {
                Record& r = out_.records.at(index);
                if (r.unreachable.emplace(flag, "`" + r.text + "`: " + why).second) r.by_behaviour.insert(flag);
            }
    }

private:
    const Options& options_;
    Output& out_;
    bool& done_;
    const std::map<unsigned, char>& conditionals_;
};

class Action : public ASTFrontendAction {
public:
    Action(const Options& options, Output& out, bool& done, Configuration& config)
        : options_(options), out_(out), done_(done), config_(config) {}
    std::unique_ptr<ASTConsumer> CreateASTConsumer(CompilerInstance&, StringRef) override {
        return std::make_unique<Consumer>(options_, out_, done_, config_.conditionals);
    }
    bool BeginSourceFileAction(CompilerInstance& ci) override {
        ci.getPreprocessor().addPPCallbacks(watch_configuration(ci.getPreprocessor(), config_));
        return true;
    }
    void EndSourceFileAction() override { out_.opened = opened_files(getCompilerInstance().getSourceManager()); }

private:
    const Options& options_;
    Output& out_;
    bool& done_;
    Configuration& config_;
};

class Factory : public tooling::FrontendActionFactory {
public:
    Factory(const Options& options, Output& out, bool& done, Configuration& config)
        : options_(options), out_(out), done_(done), config_(config) {}
    std::unique_ptr<FrontendAction> create() override {
        return std::make_unique<Action>(options_, out_, done_, config_);
    }

private:
    const Options& options_;
    Output& out_;
    bool& done_;
    Configuration& config_;
};

}  // namespace

bool instrument(const Options& options, Output& out) {
    Parse parse(options.compiler_args, {options.source});
    Output result;
    bool done = false;
    Configuration config;
    Factory factory(options, result, done, config);
    const int rc = parse.tool().run(&factory);
    if (rc != 0 || !done) {
        out.refusal = result.refusal;
        return false;
    }
    std::ostringstream src;
    src << "// Instrumented by kivinst from " << relative_path(options.source, options.root) << " (translation unit " << options.unit
        << "). Generated: edit the plain source, not this file.\n"
        << configuration_checks(options, config) << "\n"
        << "#include \"instrumentation/CodeAnnotation.h\"\n\n"
        << "#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;\n"
        << "#include \"" << options.records_include << "\"\n\n"
        << "// Records start zeroed at load and nothing clears them: no initialisation.\n\n"
        << "#line 1 \"" << relative_path(options.source, options.root) << "\"\n"
        << result.source;
    const std::string tail = configuration_tail(options, config);
    if (!tail.empty())
        src << (result.source.empty() || result.source.back() == '\n' ? "" : "\n")
            << "\n/* The configuration as the unit's own files left it. */\n" << tail;
    out.source = src.str();
    out.records = std::move(result.records);
    out.beside = std::move(config.beside);
    out.opened = std::move(result.opened);
    out.proof = std::move(result.proof);
    return true;
}

}  // namespace kivinst
