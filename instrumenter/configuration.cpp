// The configuration watcher, and the checks that pin the output to it.
#include "configuration.h"

#include "files.h"

#include <cctype>
#include <filesystem>
#include <sstream>

#include <clang/Basic/SourceManager.h>
#include <clang/Lex/HeaderSearch.h>
#include <clang/Lex/Lexer.h>
#include <clang/Lex/MacroInfo.h>
#include <clang/Lex/PPCallbacks.h>
#include <clang/Lex/Preprocessor.h>

namespace kivinst {
namespace {

using namespace clang;

class ConfigurationWatcher : public PPCallbacks {
public:
    ConfigurationWatcher(Preprocessor& pp, Configuration& config) : pp_(pp), sm_(pp.getSourceManager()), config_(config) {}
    void Ifdef(SourceLocation loc, const Token& name, const MacroDefinition& md) override {
        conditional(loc, '(');
        note(loc, name, md);
    }
    void Ifndef(SourceLocation loc, const Token& name, const MacroDefinition& md) override {
        conditional(loc, '(');
        note(loc, name, md);
    }
    void Else(SourceLocation loc, SourceLocation) override { conditional(loc, '|'); }
    void Endif(SourceLocation loc, SourceLocation) override { conditional(loc, ')'); }
    void Defined(const Token& name, const MacroDefinition& md, SourceRange range) override {
        note(range.getBegin(), name, md);
    }
    // An identifier in #if that is no macro counts as 0: tested all the same.
    void If(SourceLocation loc, SourceRange cond, ConditionValueKind) override {
        conditional(loc, '(');
        identifiers(loc, cond);
    }
    void Elif(SourceLocation loc, SourceRange cond, ConditionValueKind, SourceLocation) override {
        conditional(loc, '|');
        identifiers(loc, cond);
    }
    // Whatever is defined before the unit's own text starts is part of the
    // compiler's set-up, in force at the top of the output too.
    void MacroDefined(const Token& name, const MacroDirective* md) override {
        SourceLocation at = md ? md->getLocation() : SourceLocation();
        while (at.isValid() && sm_.getFileID(at) != sm_.getMainFileID()) at = sm_.getIncludeLoc(sm_.getFileID(at));
        if (at.isInvalid()) config_.defined_at_start.insert(name.getIdentifierInfo()->getName().str());
    }
    void EndOfMainFile() override {
        for (auto& [name, state] : config_.last_test) config_.at_end[name] = value(pp_.getMacroInfo(pp_.getIdentifierInfo(name)));
        HeaderSearch& hs = pp_.getHeaderSearchInfo();
        for (auto it = sm_.fileinfo_begin(); it != sm_.fileinfo_end(); ++it)
            if (const HeaderFileInfo* info = hs.getExistingFileInfo(it->first, false); info && info->ControllingMacro)
                config_.guards.insert(info->ControllingMacro->getName().str());
    }
    // Only the main file's: a header's own quoted includes are looked up
    // beside that header, wherever the output goes.
    void InclusionDirective(SourceLocation hash, const Token&, StringRef name, bool angled, CharSourceRange range,
                            const FileEntry* file, StringRef search_path, StringRef, const Module*,
                            SrcMgr::CharacteristicKind) override {
        if (angled || !file || search_path.empty() || sm_.getFileID(hash) != sm_.getMainFileID()) return;
        const FileEntry* main = sm_.getFileEntryForID(sm_.getMainFileID());
        if (!main || !same_folder(search_path.str(), main->getDir()->getName().str())) return;
        const PresumedLoc at = sm_.getPresumedLoc(range.getBegin());
        config_.beside.push_back({name.str(), file->getName().str(), at.getLine(), at.getColumn()});
    }

private:
    void conditional(SourceLocation loc, char kind) {
        if (loc.isFileID() && sm_.getFileID(loc) == sm_.getMainFileID()) config_.conditionals[sm_.getFileOffset(loc)] = kind;
    }
    static bool same_folder(const std::string& a, const std::string& b) {
        std::error_code ec;
        return std::filesystem::equivalent(a.empty() ? "." : a, b.empty() ? "." : b, ec);
    }
    // The unit's own files only, and names the program may choose: the
    // compiler's own (__GNUC__, _WIN32) differ between compilers, not
    // configurations.
    bool relevant(SourceLocation loc, StringRef name) const {
        if (sm_.isInSystemHeader(loc) || name.empty()) return false;
        return !(name[0] == '_' && name.size() > 1 && (name[1] == '_' || std::isupper(static_cast<unsigned char>(name[1]))));
    }
    void note(SourceLocation loc, const Token& name, const MacroDefinition& md) {
        const StringRef n = name.getIdentifierInfo()->getName();
        if (!relevant(loc, n)) return;
        if (!md) config_.tested_undefined.insert(n.str());
        config_.last_test[n.str()] = value(md.getMacroInfo());
    }
    Configuration::State value(const MacroInfo* mi) const {
        if (!mi) return std::nullopt;
        if (mi->isFunctionLike()) return std::string("()");
        std::string v;
        for (const Token& t : mi->tokens()) v += (v.empty() ? "" : " ") + pp_.getSpelling(t);
        return v;
    }
    void identifiers(SourceLocation loc, SourceRange cond) {
        if (sm_.isInSystemHeader(loc)) return;
        const StringRef text =
            Lexer::getSourceText(CharSourceRange::getCharRange(cond), sm_, pp_.getLangOpts());
        std::string word;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            const char c = i < text.size() ? text[i] : ' ';
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
                word += c;
                continue;
            }
            if (!word.empty() && !std::isdigit(static_cast<unsigned char>(word[0])) && word != "defined" &&
                relevant(loc, word)) {
                const MacroInfo* mi = pp_.getMacroInfo(pp_.getIdentifierInfo(word));
                if (!mi) config_.tested_undefined.insert(word);
                config_.last_test[word] = value(mi);
            }
            word.clear();
        }
    }
    Preprocessor& pp_;
    SourceManager& sm_;
    Configuration& config_;
};

// The -D and -I options among the compiler arguments, in either spelling.
std::vector<std::pair<char, std::string>> configuration_options(const std::vector<std::string>& args) {
    std::vector<std::pair<char, std::string>> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-' || (a[1] != 'D' && a[1] != 'I' && a[1] != 'U')) continue;
        if (a.size() > 2)
            out.emplace_back(a[1], a.substr(2));
        else if (i + 1 < args.size())
            out.emplace_back(a[1], args[++i]);
    }
    return out;
}

bool integer_literal_text(const std::string& v) {
    std::size_t i = v[0] == '-' ? 1 : 0;
    if (i >= v.size() || !std::isdigit(static_cast<unsigned char>(v[i]))) return false;
    for (; i < v.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(v[i]))) return false;
    return true;
}

}  // namespace

std::unique_ptr<PPCallbacks> watch_configuration(Preprocessor& pp, Configuration& config) {
    return std::make_unique<ConfigurationWatcher>(pp, config);
}

std::string configuration_checks(const Options& options, const Configuration& config) {
    std::ostringstream out;
    const auto given = configuration_options(options.compiler_args);
    out << "// Made for this configuration:";
    if (given.empty()) out << " no -D, -I or -U";
    std::set<std::string> named;
    for (const auto& [kind, value] : given) {
        out << " -" << kind << " " << (kind == 'I' ? relative_path(value, options.root) : value);
        if (kind != 'I') named.insert(value.substr(0, value.find('=')));
    }
    out << "\n// A build under another one stops here rather than measure other code.\n";
    const std::string again = "; instrument the unit again for this configuration";
    for (const auto& [kind, value] : given) {
        if (kind == 'I') continue;
        const std::string name = value.substr(0, value.find('='));
        if (kind == 'U') {
            out << "#ifdef " << name << "\n#error \"kivinst: made with " << name << " undefined" << again << "\"\n#endif\n";
            continue;
        }
        const std::string v = value.find('=') == std::string::npos ? "1" : value.substr(value.find('=') + 1);
        out << "#if !defined(" << name << ")";
        if (integer_literal_text(v)) out << " || (" << name << ") != (" << v << ")";
        out << "\n#error \"kivinst: made with -D" << name << "=" << v << again << "\"\n#endif\n";
    }
    // Undefined here when the unit was instrumented, whatever its own files
    // define later: a header's default (#ifndef X / #define X 1) included.
    for (const std::string& name : config.tested_undefined) {
        if (named.count(name) || config.defined_at_start.count(name) || config.guards.count(name)) continue;
        out << "#ifdef " << name << "\n#error \"kivinst: made with " << name << " undefined" << again << "\"\n#endif\n";
    }
    return out.str();
}

std::string configuration_tail(const Options& options, const Configuration& config) {
    std::set<std::string> named;
    for (const auto& [kind, value] : configuration_options(options.compiler_args))
        if (kind != 'I') named.insert(value.substr(0, value.find('=')));
    std::ostringstream out;
    const std::string again = "; instrument the unit again for this configuration\"\n#endif\n";
    for (const auto& [name, state] : config.last_test) {
        const auto end = config.at_end.find(name);
        if (named.count(name) || config.guards.count(name) || end == config.at_end.end() || end->second != state) continue;
        if (!state) {
            out << "#ifdef " << name << "\n#error \"kivinst: made with " << name << " undefined" << again;
            continue;
        }
        std::string v = *state;
        while (v.size() > 2 && v.front() == '(' && v.back() == ')') v = v.substr(1, v.size() - 2);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        while (!v.empty() && v.back() == ' ') v.pop_back();
        if (!v.empty() && integer_literal_text(v))
            out << "#if !defined(" << name << ") || (" << name << ") != (" << v << ")\n#error \"kivinst: made with "
                << name << " " << v << again;
        else
            out << "#ifndef " << name << "\n#error \"kivinst: made with " << name << " defined" << again;
    }
    return out.str();
}

}  // namespace kivinst
