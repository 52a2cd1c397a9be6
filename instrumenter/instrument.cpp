// The instrumenting pass. One walk over each function body, in source order,
// numbers the probe records and collects text edits; the edits are applied to
// the untouched file text at the end, so nothing is re-parsed or re-printed.
// Probes are inserted on the lines of what they wrap, never with new lines, so
// line numbers of the plain and the instrumented source agree (#line 1 below).
#include "instrument.h"
#include "prove/prove.h"
#include "ranges.h"

#include "path_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <tuple>

#include <clang/AST/ASTConsumer.h>
#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>
#include <clang/AST/ParentMap.h>
#include <clang/AST/Stmt.h>
#include <clang/Basic/Builtins.h>
#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/LangStandard.h>
#include <clang/Basic/SourceManager.h>
#include <clang/Frontend/CompilerInstance.h>
#include <clang/Frontend/FrontendAction.h>
#include <clang/Frontend/FrontendActions.h>
#include <clang/Frontend/TextDiagnosticPrinter.h>
#include <clang/Lex/HeaderSearch.h>
#include <clang/Lex/LexDiagnostic.h>
#include <clang/Lex/Lexer.h>
#include <clang/Lex/PPCallbacks.h>
#include <clang/Lex/Preprocessor.h>
#include <clang/Tooling/CompilationDatabase.h>
#include <clang/Tooling/Tooling.h>

namespace kivinst {
namespace {

using namespace clang;

// Edits are sorted by offset; at one offset closings come first (innermost
// first), then a replaced span, then openings (outermost first). Statement
// markers sit at depth < 0, so they open before any expression wrapped there.
struct Edit {
    unsigned offset;
    int group;  // 0 close, 1 replace, 2 open
    int depth;
    unsigned seq;
    unsigned length;  // replaced characters (group 1)
    std::string text;
};

// A path as the output names it: relative to root, never absolute, so the
// output is the same in every checkout.
std::string relative_path(const std::string& path, const std::string& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec).lexically_normal();
    const fs::path base = fs::absolute(root.empty() ? "." : root, ec).lexically_normal();
    fs::path rel = abs.lexically_relative(base);
    return rel.empty() ? fs::path(path).filename().generic_string() : rel.generic_string();
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else
            out += c;
    }
    return out + "\"";
}

constexpr int kBranchDepth = -20;
constexpr int kMarkerDepth = -10;

class Instrumenter {
public:
    Instrumenter(ASTContext& ctx, const Options& options, Output& out, const std::map<unsigned, char>& conditionals)
        : ctx_(ctx), ranges_(ctx), sm_(ctx.getSourceManager()), unit_(options.unit), root_(options.root), out_(out),
          conditionals_(conditionals) {
        auto& diags = ctx.getDiagnostics();
        warn_ = diags.getCustomDiagID(DiagnosticsEngine::Warning, "%0; left as it is");
    }

    void run() {
        for (Decl* d : ctx_.getTranslationUnitDecl()->decls()) {
            auto* fd = dyn_cast<FunctionDecl>(d);
            if (!fd || !fd->doesThisDeclarationHaveABody()) continue;
            if (!sm_.isWrittenInMainFile(sm_.getExpansionLoc(fd->getBeginLoc()))) continue;
            function(fd);
        }
        apply();
    }

private:
    // ---- numbering ------------------------------------------------------

    std::string allocate(const std::string& kind, const std::string& text, SourceLocation at, int& number) {
        // Conditions and switch cases share one sequence per unit.
        const std::string counter = kind == "SC" ? "CC" : kind;
        number = ++counters_[counter];
        std::string name;
        const std::string tu = "TU" + std::to_string(unit_);
        if (kind == "RELOP" || kind == "CAST")
            name = tu + "_" + kind + "_" + std::to_string(number);
        else {
            std::string lower = kind;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            name = tu + "ixa_" + lower + "_cond" + std::to_string(number);
        }
        Record r;
        r.kind = kind;
        r.name = name;
        r.function = function_;
        r.text = text;
        place(r, at);
        out_.records.push_back(std::move(r));
        if (kind == "STM") stm_ = static_cast<long>(out_.records.size()) - 1;
        return name;
    }

    // The record's construct as written: a macro argument where it is written,
    // anything else from a macro at the macro's invocation.
    void place(Record& r, SourceLocation at) {
        const SourceLocation loc = sm_.getFileLoc(at);
        if (loc.isInvalid()) return;
        const auto [fid, offset] = sm_.getDecomposedLoc(loc);
        r.line = sm_.getLineNumber(fid, offset);
        r.column = sm_.getColumnNumber(fid, offset);
        auto known = files_.find(fid);
        if (known == files_.end()) {
            std::string name;
            if (const FileEntry* fe = sm_.getFileEntryForID(fid)) name = fe->getName().str();
            known = files_.emplace(fid, relative_path(name, root_)).first;
        }
        r.file = known->second;
    }

    std::string probe(const std::string& macro, const std::string& kind, const std::string& text, SourceLocation at) {
        int number = 0;
        const std::string rec = allocate(kind, text, at, number);
        return macro + "(" + std::to_string(number) + ", &" + rec;
    }
    Record& last() { return out_.records.back(); }

    // ---- locations --------------------------------------------------------

    struct Span {
        unsigned begin = 0, end = 0;
        bool ok = false;
        unsigned directive = 0;  // a conditional directive it straddles: its line, else 0
    };

    // The text of the main file that is exactly the construct: written there
    // directly, or whole macro invocations at either end. A construct inside
    // an invocation (in the macro's body, or in an argument, which the macro
    // may expand twice or where inserted text changes its meaning) has none:
    // nothing is ever edited inside a macro invocation.
    Span span(SourceRange range) {
        Span s;
        CharSourceRange r =
            Lexer::makeFileCharRange(CharSourceRange::getTokenRange(range), sm_, ctx_.getLangOpts());
        if (r.isInvalid() || !sm_.isWrittenInMainFile(r.getBegin()) || !sm_.isWrittenInMainFile(r.getEnd())) return s;
        // makeFileCharRange also maps a construct within one macro argument
        // to the argument's text; only whole invocations are taken.
        if (range.getBegin().isMacroID() && r.getBegin() != sm_.getExpansionLoc(range.getBegin())) return s;
        if (range.getEnd().isMacroID()) {
            const SourceLocation last = sm_.getExpansionRange(range.getEnd()).getEnd();
            if (r.getEnd() != Lexer::getLocForEndOfToken(last, 0, sm_, ctx_.getLangOpts())) return s;
        }
        s.begin = sm_.getFileOffset(r.getBegin());
        s.end = sm_.getFileOffset(r.getEnd());
        s.ok = sm_.getFileID(r.getBegin()) == sm_.getMainFileID() && s.begin <= s.end;
        if (s.ok) s.directive = straddled(s.begin, s.end);
        s.ok = s.ok && !s.directive;
        return s;
    }

    // Text that holds an unbalanced part of an #if group (a branch of it, or
    // its #else or #endif) would take a probe's opening in one configuration
    // and its closing in another: the line of the first such directive, or 0.
    unsigned straddled(unsigned begin, unsigned end) const {
        std::vector<unsigned> open;  // #if groups opened inside, not yet closed
        for (auto it = conditionals_.lower_bound(begin); it != conditionals_.end() && it->first < end; ++it) {
            if (it->second == '(')
                open.push_back(it->first);
            else if (open.empty())
                return sm_.getLineNumber(sm_.getMainFileID(), it->first);
            else if (it->second == ')')
                open.pop_back();
        }
        return open.empty() ? 0 : sm_.getLineNumber(sm_.getMainFileID(), open.front());
    }

    // Said once per macro use, per #include and per directive: why a
    // construct could not be wrapped.
    void refuse(const Span& s, SourceLocation loc, const std::string& what) {
        if (s.directive) {
            warn(loc, what + " spans the conditional directive on line " + std::to_string(s.directive) +
                          ", which a probe around it would straddle");
            return;
        }
        const SourceLocation at = sm_.getExpansionLoc(loc);
        if (!sm_.isWrittenInMainFile(at)) {
            const SourceLocation include = sm_.getIncludeLoc(sm_.getFileID(at));
            if (!macros_warned_.insert(include.getRawEncoding()).second) return;
            return warn(include.isValid() ? include : loc, what + " from an included file is not instrumented");
        }
        if (!macros_warned_.insert(at.getRawEncoding()).second) return;
        warn(loc, what + " from a macro expansion is not instrumented");
    }

    // Just after a token written in the main file; none for a token from a
    // macro (a brace or a colon that a macro supplies).
    std::optional<unsigned> after_token(SourceLocation loc) {
        if (loc.isMacroID() || !sm_.isWrittenInMainFile(loc)) return std::nullopt;
        return sm_.getFileOffset(Lexer::getLocForEndOfToken(loc, 0, sm_, ctx_.getLangOpts()));
    }

    // The end of a statement with its semicolon, where one ends it: after
    // the whole macro invocation that ends it, never inside one.
    unsigned statement_end(Stmt* s) {
        const SourceLocation end = sm_.getExpansionRange(s->getEndLoc()).getEnd();
        SourceLocation semi = Lexer::findLocationAfterToken(end, tok::semi, sm_, ctx_.getLangOpts(), false);
        return sm_.getFileOffset(semi.isValid() ? semi : Lexer::getLocForEndOfToken(end, 0, sm_, ctx_.getLangOpts()));
    }

    // Within one macro invocation from its first token to its last: nothing
    // inside can be edited, so it is observed, at most, as a whole.
    bool from_macro(const Stmt* s) const {
        const SourceLocation b = s->getBeginLoc(), e = s->getEndLoc();
        return b.isMacroID() && e.isMacroID() && sm_.getExpansionLoc(b) == sm_.getExpansionLoc(e);
    }

    // Whether a subtree holds something kivinst would observe.
    static bool observable(const Stmt* s) {
        if (!s) return false;
        if (const auto* bo = dyn_cast<BinaryOperator>(s))
            if (bo->isComparisonOp() || bo->isLogicalOp() || bo->getOpcode() == BO_Div || bo->getOpcode() == BO_Rem)
                return true;
        if (isa<CallExpr>(s) || isa<ConditionalOperator>(s) || isa<IfStmt>(s) || isa<SwitchStmt>(s) ||
            isa<WhileStmt>(s) || isa<DoStmt>(s) || isa<ForStmt>(s))
            return true;
        for (const Stmt* child : s->children())
            if (observable(child)) return true;
        return false;
    }

    // Once per macro invocation, where the user wrote it.
    void macro_left_alone(const Stmt* s) {
        if (!observable(s)) return;
        // A constant (LIMIT as (300 / INTERVAL)) does the same in every run.
        if (const auto* e = dyn_cast<Expr>(s); e && !e->isValueDependent() && e->isEvaluatable(ctx_)) return;
        const SourceLocation at = sm_.getExpansionLoc(s->getBeginLoc());
        if (!macros_warned_.insert(at.getRawEncoding()).second) return;
        warn(s->getBeginLoc(), "what a macro expands to is not instrumented inside its invocation");
    }

    void warn(SourceLocation loc, const std::string& what) {
        ctx_.getDiagnostics().Report(loc, warn_) << what;
    }

    std::string source_text(Span s) {
        StringRef buf = sm_.getBufferData(sm_.getMainFileID());
        std::string text;
        bool space = false;
        for (char c : buf.substr(s.begin, s.end - s.begin)) {
            if (c == '\n' || c == '\t' || c == ' ' || c == '\r') {
                space = true;
                continue;
            }
            if (space && !text.empty()) text += ' ';
            space = false;
            text += c == '"' ? '\'' : c;
        }
        return text;
    }

    void insert(unsigned offset, int group, int depth, std::string text) {
        edits_.push_back({offset, group, depth, seq_++, 0, std::move(text)});
    }
    void wrap(Span s, int depth, std::string open, std::string close) {
        insert(s.begin, 2, depth, std::move(open));
        insert(s.end, 0, depth, std::move(close));
    }

    void apply() {
        std::stable_sort(edits_.begin(), edits_.end(), [](const Edit& a, const Edit& b) {
            if (a.offset != b.offset) return a.offset < b.offset;
            if (a.group != b.group) return a.group < b.group;
            if (a.depth != b.depth) return a.group == 0 ? a.depth > b.depth : a.depth < b.depth;
            return a.seq < b.seq;
        });
        StringRef buf = sm_.getBufferData(sm_.getMainFileID());
        std::string result;
        unsigned pos = 0;
        for (const Edit& e : edits_) {
            if (e.offset > pos) result.append(buf.data() + pos, e.offset - pos), pos = e.offset;
            result += e.text;
            if (e.group == 1) pos = std::max(pos, e.offset + e.length);
        }
        result.append(buf.data() + pos, buf.size() - pos);
        out_.source = std::move(result);
    }

    // ---- types ----------------------------------------------------------------

    unsigned width(QualType t) const { return static_cast<unsigned>(ctx_.getTypeSize(t)); }
    bool is_unsigned(QualType t) const { return t.getCanonicalType()->isUnsignedIntegerOrEnumerationType(); }

    // "U", "S", "U_LL" or "S_LL" for an integer type.
    std::string int_variant(QualType t) const {
        return std::string(is_unsigned(t) ? "U" : "S") + (width(t) > 32 ? "_LL" : "");
    }

    static bool is_boolean_valued(const Expr* e) {
        e = e->IgnoreParenImpCasts();
        if (const auto* bo = dyn_cast<BinaryOperator>(e)) return bo->isComparisonOp() || bo->isLogicalOp();
        if (const auto* uo = dyn_cast<UnaryOperator>(e)) return uo->getOpcode() == UO_LNot;
        return false;
    }
    // The && or || chain under e, looking through parentheses and '!': its
    // leaves are the conditions, the '!'s stay where they are.
    static BinaryOperator* logical_of(Expr* e) {
        e = e->IgnoreParenImpCasts();
        while (auto* uo = dyn_cast<UnaryOperator>(e)) {
            if (uo->getOpcode() != UO_LNot) return nullptr;
            e = uo->getSubExpr()->IgnoreParenImpCasts();
        }
        auto* bo = dyn_cast<BinaryOperator>(e);
        return bo && bo->isLogicalOp() ? bo : nullptr;
    }

    // ---- functions and statements ---------------------------------------------

    void function(FunctionDecl* fd) {
        auto* body = dyn_cast<CompoundStmt>(fd->getBody());
        if (!body) return;
        function_ = fd->getNameAsString();
        parents_ = std::make_unique<ParentMap>(body);
        addressed_.clear();
        addressed(body);
        stm_ = -1;
        if (const auto brace = after_token(body->getLBracLoc())) {
            const unsigned at = block_head(body, *brace);
            insert(at, 2, kMarkerDepth, " " + probe("IXA_FC", "FC", "function entry", fd->getLocation()) + ");");
            insert(at, 2, kMarkerDepth, " " + probe("IXA_STM", "STM", "body", body->getLBracLoc()) + ");");
        } else
            warn(body->getLBracLoc(), "a function body opened by a macro has no entry probe");
        // The function's name runs with its body, as gcov counts it, and so
        // does the closing brace of a function without a value, where a call
        // that runs off its end returns (one with a value returns from its
        // return statements).
        const long entry = stm_;
        cover(fd->getLocation(), fd->getLocation());
        statements(body);
        stm_ = entry;
        if (fd->getReturnType()->isVoidType()) cover(body->getRBracLoc(), body->getRBracLoc());
        stm_ = -1;
        parents_.reset();
    }

    // Adds the lines from `begin` to `end` (where they are written, or the
    // macro invocation's) to the run of the current statement record.
    void cover(SourceLocation begin, SourceLocation end) {
        if (stm_ < 0 || begin.isInvalid() || end.isInvalid()) return;
        const SourceLocation b = sm_.getExpansionLoc(begin), e = sm_.getExpansionRange(end).getEnd();
        if (sm_.getFileID(b) != sm_.getMainFileID() || sm_.getFileID(e) != sm_.getMainFileID()) return;
        const unsigned first = sm_.getExpansionLineNumber(b), last = sm_.getExpansionLineNumber(e);
        if (first && last >= first) out_.records[static_cast<std::size_t>(stm_)].lines.emplace_back(first, last);
    }

    // The lines of a statement that run when the run it stands in reaches it:
    // all of a plain statement; of an if, loop or switch the head up to its
    // closing parenthesis (its bodies are runs of their own).
    void cover_statement(Stmt* s) {
        if (isa<CompoundStmt>(s) || isa<SwitchCase>(s) || isa<LabelStmt>(s)) return;
        if (auto* is = dyn_cast<IfStmt>(s)) return cover(is->getBeginLoc(), is->getRParenLoc());
        if (auto* ws = dyn_cast<WhileStmt>(s)) return cover(ws->getBeginLoc(), ws->getRParenLoc());
        if (auto* ss = dyn_cast<SwitchStmt>(s)) return cover(ss->getBeginLoc(), ss->getRParenLoc());
        if (auto* fs = dyn_cast<ForStmt>(s)) return cover(fs->getBeginLoc(), fs->getRParenLoc());
        if (auto* ds = dyn_cast<DoStmt>(s)) return cover(ds->getWhileLoc(), ds->getRParenLoc());
        if (auto* ds = dyn_cast<DeclStmt>(s)) {  // a declaration without a value runs nothing
            const bool runs = std::any_of(ds->decl_begin(), ds->decl_end(), [](const Decl* d) {
                const auto* vd = dyn_cast<VarDecl>(d);
                return vd && vd->hasInit() && !vd->isStaticLocal();
            });
            if (!runs) return;
        }
        cover(s->getBeginLoc(), s->getEndLoc());
    }

    static bool is_control(const Stmt* s) {
        while (const auto* sc = dyn_cast<SwitchCase>(s)) s = sc->getSubStmt();
        while (const auto* ls = dyn_cast<LabelStmt>(s)) s = ls->getSubStmt();
        return isa<IfStmt>(s) || isa<SwitchStmt>(s) || isa<WhileStmt>(s) || isa<DoStmt>(s) || isa<ForStmt>(s);
    }

    // The statements of one block: after an if, switch or loop, the rest of
    // the block is a run of its own with a statement probe of its own.
    void statements(CompoundStmt* cs) {
        bool after_control = false;
        const Stmt* previous = nullptr;
        for (Stmt* s : cs->body()) {
            if (after_control && !isa<SwitchCase>(s)) {
                Span sp = span(s->getSourceRange());
                if (sp.ok)
                    insert(sp.begin, 2, kMarkerDepth,
                           probe("IXA_STM", "STM", "block from line " + line_of(s->getBeginLoc()), s->getBeginLoc()) + "); ");
                else if (sp.directive || !s->getBeginLoc().isMacroID())
                    refuse(sp, s->getBeginLoc(), sp.directive ? "a block's first statement" : "code");
                else
                    warn(s->getBeginLoc(), "a block that starts inside a macro invocation has no statement probe");
            }
            after_control = false;
            if (auto* sc = dyn_cast<SwitchCase>(s))
                label(sc, previous);
            else
                statement(s);
            after_control = is_control(s);
            previous = s;
        }
    }

    std::string line_of(SourceLocation loc) {
        return std::to_string(sm_.getExpansionLineNumber(loc));
    }

    // A branch or loop body: a block of its own; a single statement is braced
    // so that its probe and it stay one statement.
    void branch(Stmt* s, const std::string& what) {
        const long outer = stm_;
        branch_run(s, what);
        stm_ = outer;
    }
    void branch_run(Stmt* s, const std::string& what) {
        if (auto* cs = dyn_cast<CompoundStmt>(s)) {
            if (const auto brace = after_token(cs->getLBracLoc())) {
                insert(block_head(cs, *brace), 2, kMarkerDepth, " " + probe("IXA_STM", "STM", what, cs->getLBracLoc()) + ");");
                statements(cs);
            } else {
                warn(cs->getLBracLoc(), "a block opened by a macro has no statement probe");
                stm_ = -1;  // its lines have no count of their own
                statement(cs);
            }
            return;
        }
        Span sp = span(s->getSourceRange());
        if (!sp.ok) {
            if (sp.directive || !s->getBeginLoc().isMacroID()) return refuse(sp, s->getBeginLoc(), "a branch");
            warn(s->getBeginLoc(), "a branch that is part of a macro invocation is not instrumented");
            return;
        }
        insert(sp.begin, 2, kBranchDepth, "{ " + probe("IXA_STM", "STM", what, s->getBeginLoc()) + "); ");
        insert(statement_end(s), 0, kBranchDepth, " }");
        statement(s);
    }

    // Where a block's probes go: after its opening brace, or after the
    // declarations that open it, so that no statement comes before a
    // declaration (C90, -Wdeclaration-after-statement).
    unsigned block_head(CompoundStmt* cs, unsigned after_brace) {
        unsigned at = after_brace;
        for (Stmt* s : cs->body()) {
            if (!isa<DeclStmt>(s) || !sm_.isWrittenInMainFile(sm_.getExpansionRange(s->getEndLoc()).getEnd())) break;
            at = statement_end(s);
        }
        return at;
    }

    // The labels stacked on one block (`case A: case B: code`), after the
    // statement `previous` of the same switch body (null: none). Each label's
    // case probe counts only a dispatch to that label: the labels' probes jump
    // past the probes of the labels below them, and where the code before can
    // fall through into the labels, it jumps past them too. The block's
    // statement probe counts every way in.
    void label(SwitchCase* first, const Stmt* previous) {
        std::vector<SwitchCase*> stack;
        Stmt* body = first;
        while (auto* sc = dyn_cast<SwitchCase>(body)) stack.push_back(sc), body = sc->getSubStmt();
        std::vector<unsigned> colons;
        for (SwitchCase* sc : stack) {
            const auto colon = after_token(sc->getColonLoc());
            if (!colon) {
                warn(sc->getBeginLoc(), "a case label from a macro is not instrumented");
                continue;
            }
            std::string what = "default";
            if (auto* cs = dyn_cast<CaseStmt>(sc)) {
                Span sp = span(cs->getLHS()->getSourceRange());
                what = "case " + (sp.ok ? source_text(sp) : std::string("?"));
            }
            int number = 0;
            const std::string rec = allocate("SC", what, sc->getBeginLoc(), number);
            insert(*colon, 2, kMarkerDepth, " IXA_SC(" + std::to_string(number) + ", &" + rec + ");");
            last().constants.emplace();
            if (auto* cs = dyn_cast<CaseStmt>(sc)) {
                Expr::EvalResult v;
                if (cs->getLHS()->EvaluateAsInt(v, ctx_)) last().constants->push_back(v.Val.getInt().getExtValue());
            }
            colons.push_back(*colon);
        }
        if (colons.empty()) return statement(body);
        const std::string target = "kiv_case" + std::to_string(counters_["CC"]);
        const Stmt* before = previous;
        while (before && (isa<SwitchCase>(before) || isa<LabelStmt>(before)))
            before = isa<SwitchCase>(before) ? cast<SwitchCase>(before)->getSubStmt() : cast<LabelStmt>(before)->getSubStmt();
        const bool falls_in = before && !isa<BreakStmt>(before) && !isa<ReturnStmt>(before) &&
                              !isa<ContinueStmt>(before) && !isa<GotoStmt>(before);
        const Span head = span(stack.front()->getBeginLoc());
        const bool jump_in = falls_in && head.ok;
        if (jump_in) insert(head.begin, 2, kMarkerDepth, "goto " + target + "; ");
        for (std::size_t i = 0; i + 1 < colons.size(); ++i) insert(colons[i], 2, kMarkerDepth, " goto " + target + ";");
        if (jump_in || colons.size() > 1) insert(colons.back(), 2, kMarkerDepth, " " + target + ":");
        std::string what = "default";
        if (auto* cs = dyn_cast<CaseStmt>(stack.back())) {
            Span sp = span(cs->getLHS()->getSourceRange());
            what = "case " + (sp.ok ? source_text(sp) : std::string("?"));
        }
        insert(colons.back(), 2, kMarkerDepth, " " + probe("IXA_STM", "STM", what, stack.back()->getBeginLoc()) + ");");
        for (SwitchCase* sc : stack) cover(sc->getBeginLoc(), sc->getColonLoc());
        statement(body);
    }

    void statement(Stmt* s) {
        if (!s) return;
        // An #include inside a function: its code is not the main file's.
        if (!sm_.isWrittenInMainFile(sm_.getExpansionLoc(s->getBeginLoc()))) return refuse(Span{}, s->getBeginLoc(), "code");
        cover_statement(s);
        if (!isa<Expr>(s) && from_macro(s)) return macro_left_alone(s);
        if (auto* cs = dyn_cast<CompoundStmt>(s)) return statements(cs);
        if (auto* is = dyn_cast<IfStmt>(s)) {
            if (is->getConditionVariable() || is->getInit()) warn(is->getBeginLoc(), "an if with a declaration");
            decision(is->getCond(), 0);
            branch(is->getThen(), "then, line " + line_of(is->getThen()->getBeginLoc()));
            if (is->getElse()) branch(is->getElse(), "else, line " + line_of(is->getElse()->getBeginLoc()));
            return;
        }
        if (auto* ss = dyn_cast<SwitchStmt>(s)) {
            expr(ss->getCond(), 0);  // a switch has case probes, no decision probe
            const long outer = stm_;
            if (auto* body = dyn_cast<CompoundStmt>(ss->getBody())) {
                statements(body);
            } else {
                // A lone labelled statement as the body: braced, so that the
                // label's probes and the statement all stay inside the switch.
                Span sp = span(ss->getBody()->getSourceRange());
                if (!sp.ok) {
                    stm_ = outer;
                    return refuse(sp, ss->getBody()->getBeginLoc(), "a switch body");
                }
                insert(sp.begin, 2, kBranchDepth, "{ ");
                insert(statement_end(ss->getBody()), 0, kBranchDepth, " }");
                statement(ss->getBody());
            }
            stm_ = outer;
            return;
        }
        if (auto* sc = dyn_cast<SwitchCase>(s)) return label(sc, nullptr);
        if (auto* ws = dyn_cast<WhileStmt>(s)) {
            decision(ws->getCond(), 0);
            branch(ws->getBody(), "loop body, line " + line_of(ws->getBody()->getBeginLoc()));
            return;
        }
        if (auto* ds = dyn_cast<DoStmt>(s)) {
            branch(ds->getBody(), "loop body, line " + line_of(ds->getBody()->getBeginLoc()));
            decision(ds->getCond(), 0);
            return;
        }
        if (auto* fs = dyn_cast<ForStmt>(s)) {
            statement(fs->getInit());
            if (fs->getCond()) decision(fs->getCond(), 0);
            if (fs->getInc()) expr(fs->getInc(), 0);
            branch(fs->getBody(), "loop body, line " + line_of(fs->getBody()->getBeginLoc()));
            return;
        }
        if (auto* rs = dyn_cast<ReturnStmt>(s)) {
            if (rs->getRetValue()) value(rs->getRetValue(), 0);
            return;
        }
        if (auto* ds = dyn_cast<DeclStmt>(s)) {
            for (Decl* d : ds->decls()) {
                auto* vd = dyn_cast<VarDecl>(d);
                if (vd && vd->hasInit() && !vd->isStaticLocal()) assigned(vd->getInit());
            }
            return;
        }
        if (auto* ls = dyn_cast<LabelStmt>(s)) return statement(ls->getSubStmt());
        if (auto* gs = dyn_cast<GotoStmt>(s)) return jump(gs);
        if (isa<IndirectGotoStmt>(s)) return warn(s->getBeginLoc(), "a computed jump is not instrumented");
        if (isa<AsmStmt>(s)) return warn(s->getBeginLoc(), "inline assembly is not instrumented");
        if (auto* e = dyn_cast<Expr>(s)) return expr(e, 0);
        if (isa<BreakStmt>(s) || isa<ContinueStmt>(s) || isa<NullStmt>(s)) return;
        for (Stmt* child : s->children()) statement(child);
    }

    // A goto whose label lies in a block that does not enclose the goto
    // enters that block past its statement probe.
    void jump(GotoStmt* gs) {
        LabelStmt* target = gs->getLabel()->getStmt();
        if (!target || !parents_) return;
        const Stmt* block = parents_->getParent(target);
        while (block && !isa<CompoundStmt>(block)) block = parents_->getParent(block);
        for (const Stmt* p = gs; p; p = parents_->getParent(p))
            if (p == block) return;
        warn(gs->getBeginLoc(), "a goto into a block skips the block's statement probe");
    }

    // ---- expressions ------------------------------------------------------------

    // The right-hand side of an assignment or an initializer: a boolean
    // expression there is a decision; any other value may be narrowed.
    void assigned(Expr* e) {
        if (is_boolean_valued(e))
            decision(e, 0);
        else
            value(e, 0);
    }

    // A value converted to the type of what receives it (assignment,
    // initializer, argument, return value).
    void value(Expr* e, int depth) {
        auto* ice = dyn_cast<ImplicitCastExpr>(e);
        if (ice && narrowing(ice->getSubExpr(), ice->getType()))
            return cast_probe(ice->getSubExpr(), ice->getType(), depth);
        expr(e, depth);
    }

    // Outcome probes take 32 or 64 bits of integer; anything else is tested
    // against zero first, which is what C's truth test does.
    // Returns the record's index, or -1 where no probe could be placed.
    long outcome(Expr* e, int depth, const std::string& family, const std::string& kind) {
        Span sp = span(e->getSourceRange());
        if (!sp.ok) {
            refuse(sp, e->getBeginLoc(), "a " + family);
            return -1;
        }
        QualType t = e->IgnoreParenImpCasts()->getType();
        std::string variant = "S", close = ")";
        std::string open_extra;
        if ((t->isIntegerType() || t->isEnumeralType()) && width(t) <= 64) {
            variant = int_variant(t);
            std::tie(open_extra, close) = parenthesised(e);
            close += ")";
        } else
            open_extra = "(", close = ") != 0)";
        // A constant stays visible as one after its probe: the compiler still
        // knows that while (1) only ends by a jump (-Wreturn-type).
        std::string constant_open;
        bool known = false;
        if (!e->isValueDependent() && e->EvaluateAsBooleanCondition(known, ctx_))
            constant_open = "(", close += known ? ", 1)" : ", 0)";
        const std::string text = source_text(sp);
        wrap(sp, depth, constant_open + probe("IXA_" + kind + "_" + variant, kind, text, e->getBeginLoc()) + ", " + open_extra, close);
        observed(e, ranges_.outcome(e, text));
        return static_cast<long>(out_.records.size()) - 1;
    }

    void decision(Expr* e, int depth) {
        std::vector<long> leaves;
        if (from_macro(e))
            macro_left_alone(e);  // observed as a whole, if at all
        else if (BinaryOperator* chain = logical_of(e))
            conditions(chain, depth + 1, leaves);
        else
            expr(e, depth + 1);
        const long dc = outcome(e, depth, "decision", "DC");
        if (dc < 0) return;
        Record& r = out_.records[static_cast<std::size_t>(dc)];
        for (long cc : leaves) {
            if (cc < 0) {  // a condition without its probe: the formula would name a record that is not there
                r.conditions.clear();
                break;
            }
            out_.records[static_cast<std::size_t>(cc)].decision = r.name;
            r.conditions.push_back(out_.records[static_cast<std::size_t>(cc)].name);
        }
        int k = 0;
        r.expression = r.conditions.empty() ? "c" : formula(e, k);
    }

    // The decision over its conditions c0..cN-1, as the source groups them.
    static std::string formula(Expr* e, int& k) {
        e = e->IgnoreImpCasts();
        if (!logical_of(e)) return "c" + std::to_string(k++);
        if (auto* p = dyn_cast<ParenExpr>(e)) return "(" + formula(p->getSubExpr(), k) + ")";
        if (auto* u = dyn_cast<UnaryOperator>(e)) return "!" + formula(u->getSubExpr(), k);
        auto* bo = cast<BinaryOperator>(e);
        std::string left = formula(bo->getLHS(), k);
        return left + (bo->getOpcode() == BO_LAnd ? " && " : " || ") + formula(bo->getRHS(), k);
    }

    // An operand's value when it is a constant expression: a literal, a
    // macro, an enumerator, a sum of them. The search tries these values and
    // their neighbours in inputs, so a limit named by a macro is met exactly.
    std::optional<int64_t> constant_value(const Expr* e) const {
        Expr::EvalResult v;
        if (e->isValueDependent() || !e->EvaluateAsInt(v, ctx_)) return std::nullopt;
        const llvm::APSInt& i = v.Val.getInt();
        if (i.isSigned() ? i.getMinSignedBits() > 64 : i.getActiveBits() > 63) return std::nullopt;
        return i.getExtValue();
    }

    // The operands of a chain of && and ||, nested chains flattened: each leaf
    // is one condition, evaluated (and probed) only where C evaluates it.
    void conditions(BinaryOperator* bo, int depth, std::vector<long>& leaves) {
        for (Expr* side : {bo->getLHS(), bo->getRHS()}) {
            if (BinaryOperator* chain = logical_of(side)) {
                conditions(chain, depth, leaves);
                continue;
            }
            expr(side, depth + 1);
            leaves.push_back(outcome(side, depth, "condition", "CC"));
        }
    }

    void relation(BinaryOperator* bo, int depth) {
        expr(bo->getLHS(), depth + 1);
        expr(bo->getRHS(), depth + 1);
        // After the usual arithmetic conversions both operands have one type;
        // it fixes the signature.
        QualType t = bo->getLHS()->getType();
        if ((!t->isIntegerType() && !t->isEnumeralType()) || width(t) > 64)
            return warn(bo->getOperatorLoc(), "no relational probe for a comparison of '" + type_name(t) + "' operands");
        if (order_matters(bo->getLHS(), bo->getRHS()))
            return warn(bo->getOperatorLoc(), unordered("comparison"));
        static const std::map<BinaryOperatorKind, const char*> ops = {{BO_NE, "NEQ"}, {BO_EQ, "EQU"}, {BO_LT, "LES"},
                                                                      {BO_LE, "LEQ"}, {BO_GE, "GEQ"}, {BO_GT, "GRE"}};
        Span whole = span(bo->getSourceRange());
        Span lhs = span(bo->getLHS()->getSourceRange());
        Span rhs = span(bo->getRHS()->getSourceRange());
        const SourceLocation op = bo->getOperatorLoc();
        if (!whole.ok || !lhs.ok || !rhs.ok || op.isMacroID())
            return refuse(whole.directive ? whole : lhs.directive ? lhs : rhs.directive ? rhs : whole, op, "a comparison");
        const std::string sig = is_unsigned(t) ? (width(t) > 32 ? "UU_LL" : "UU") : (width(t) > 32 ? "SS_LL" : "SS");
        wrap(whole, depth, probe(std::string("IXA_") + ops.at(bo->getOpcode()) + "_" + sig, "RELOP", source_text(whole), bo->getBeginLoc()) + ", ", ")");
        observed(bo, ranges_.relation(bo, source_text(lhs), source_text(rhs)));
        last().constants.emplace();
        for (const Expr* operand : {bo->getLHS(), bo->getRHS()})
            if (auto v = constant_value(operand)) last().constants->push_back(*v);
        // Only the operator becomes the comma: what stands around it (line
        // breaks, comments, #define) stays, so every later line keeps its number.
        const unsigned at = sm_.getFileOffset(op);
        const unsigned length = Lexer::MeasureTokenLength(op, sm_, ctx_.getLangOpts());
        std::string comma = ",";
        for (char c : sm_.getBufferData(sm_.getMainFileID()).substr(at, length))
            if (c == '\n') comma += "\\\n";  // a backslash-newline within the operator
        edits_.push_back({at, 1, depth, seq_++, length, comma});
    }

    // Where C leaves the order of two operands open and one of them has side
    // effects the other may see, compilers differ (gcc reads a plain variable
    // after a call beside it, clang reads left to right), and a probe's call
    // would change the order again: such an operation keeps no probe of its
    // own, so that each compiler computes what it computes without probes.
    bool order_matters(const Expr* a, const Expr* b) const {
        Effects ea, eb;
        effects(a, ea);
        effects(b, eb);
        if (ea.global && (eb.global || !unaffected(b, a))) return true;
        if (eb.global && !unaffected(a, b)) return true;
        for (const VarDecl* v : ea.locals)
            if (names(b, v)) return true;
        for (const VarDecl* v : eb.locals)
            if (names(a, v)) return true;
        return false;
    }
    // What evaluating an expression may change: local variables whose
    // address is never taken (only an expression naming them sees that), or
    // anything (a call, a store through a pointer). A volatile read counts as
    // a side effect for C, but reading two objects in either order reads the
    // same values.
    struct Effects {
        bool global = false;
        std::set<const VarDecl*> locals;
    };
    void effects(const Stmt* s, Effects& e) const {
        if (!s) return;
        const Expr* target = nullptr;
        if (isa<CallExpr>(s) || isa<StmtExpr>(s)) e.global = true;
        if (const auto* bo = dyn_cast<BinaryOperator>(s); bo && bo->isAssignmentOp()) target = bo->getLHS();
        if (const auto* uo = dyn_cast<UnaryOperator>(s); uo && uo->isIncrementDecrementOp()) target = uo->getSubExpr();
        if (target) {
            const auto* dr = dyn_cast<DeclRefExpr>(target->IgnoreParens());
            const auto* vd = dr ? dyn_cast<VarDecl>(dr->getDecl()) : nullptr;
            if (vd && vd->hasLocalStorage() && !vd->getType().isVolatileQualified() && !addressed_.count(vd))
                e.locals.insert(vd);
            else
                e.global = true;
        }
        for (const Stmt* child : s->children()) effects(child, e);
    }
    std::string unordered(const std::string& what) const {
        return "the operands of this " + what + " may be evaluated in either order and one has side effects the other "
               "may see: no probe, so that each compiler computes what it computes without probes (to measure it, "
               "compute an operand into a variable first)";
    }
    // Whether nothing other does can change e's value: constants, and local
    // variables that other does not name and whose address is never taken.
    bool unaffected(const Expr* e, const Expr* other) const {
        e = e->IgnoreParens();
        if (!e->isValueDependent() && e->isEvaluatable(ctx_)) return true;
        if (const auto* dr = dyn_cast<DeclRefExpr>(e)) {
            const auto* vd = dyn_cast<VarDecl>(dr->getDecl());
            return vd && vd->hasLocalStorage() && !vd->getType().isVolatileQualified() && !addressed_.count(vd) &&
                   !names(other, vd);
        }
        if (const auto* uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_Deref) return false;
        if (const auto* me = dyn_cast<MemberExpr>(e); me && me->isArrow()) return false;
        if (!isa<UnaryOperator>(e) && !isa<BinaryOperator>(e) && !isa<CastExpr>(e) && !isa<ConditionalOperator>(e) &&
            !isa<MemberExpr>(e))
            return false;
        for (const Stmt* child : e->children())
            if (!child || !unaffected(cast<Expr>(child), other)) return false;
        return true;
    }
    static bool names(const Stmt* s, const VarDecl* vd) {
        if (!s) return false;
        if (const auto* dr = dyn_cast<DeclRefExpr>(s); dr && dr->getDecl() == vd) return true;
        for (const Stmt* child : s->children())
            if (names(child, vd)) return true;
        return false;
    }
    // The variables of a body whose address is taken (or that decay to one).
    void addressed(const Stmt* s) {
        if (!s) return;
        const Expr* target = nullptr;
        if (const auto* uo = dyn_cast<UnaryOperator>(s); uo && uo->getOpcode() == UO_AddrOf) target = uo->getSubExpr();
        if (const auto* ice = dyn_cast<ImplicitCastExpr>(s); ice && ice->getCastKind() == CK_ArrayToPointerDecay)
            target = ice->getSubExpr();
        while (target) {
            target = target->IgnoreParens();
            if (const auto* me = dyn_cast<MemberExpr>(target)) {
                target = me->isArrow() ? nullptr : me->getBase();
                continue;
            }
            if (const auto* dr = dyn_cast<DeclRefExpr>(target))
                if (const auto* vd = dyn_cast<VarDecl>(dr->getDecl())) addressed_.insert(vd);
            break;
        }
        for (const Stmt* child : s->children()) addressed(child);
    }

    // The floating types a probe can take: "F" float, "D" double, "LD" long
    // double; "H" a half type, which converts exactly to double; "" none.
    static std::string floating(QualType t) {
        const auto* bt = t.getCanonicalType()->getAs<BuiltinType>();
        if (!bt) return "";
        switch (bt->getKind()) {
        case BuiltinType::Float: return "F";
        case BuiltinType::Double: return "D";
        case BuiltinType::LongDouble: return "LD";
        case BuiltinType::Half:
        case BuiltinType::Float16: return "H";
        default: return "";
        }
    }

    // Bits of an integer that a floating type holds exactly (its significand).
    unsigned exact_bits(QualType t) const {
        return llvm::APFloat::semanticsPrecision(ctx_.getFloatTypeSemantics(t));
    }

    // ---- value ranges (ranges.cpp) -------------------------------------------

    Range type_range(QualType t) const { return ranges_.type_range(t); }
    static bool within(Range inner, Range outer) { return ValueRanges::within(inner, outer); }
    std::optional<Range> range_of(const Expr* e) const { return ranges_.of(e); }

    // Narrowing: the target cannot hold every value the source can take. A
    // constant, a 0/1 result, a masked or shifted value that fits, cannot lose
    // anything and is left alone.
    bool narrowing(Expr* from_expr, QualType to) {
        QualType from = from_expr->getType();
        if (from_expr->isValueDependent() || is_boolean_valued(from_expr)) return false;
        if (from_expr->isEvaluatable(ctx_)) return false;
        to = to.getCanonicalType();
        from = from.getCanonicalType();
        if (to->isBooleanType() || from->isBooleanType()) return false;
        const bool from_int = from->isIntegerType(), to_int = to->isIntegerType();
        const bool from_fp = from->isRealFloatingType(), to_fp = to->isRealFloatingType();
        if (from_int && to_int) {
            const unsigned fw = width(from), tw = width(to);
            const bool fu = is_unsigned(from), tu = is_unsigned(to);
            const bool holds = (fu == tu && tw >= fw) || (fu && !tu && tw > fw);
            if (holds || width(to) > 64) return !holds;
            const auto r = range_of(from_expr);
            return !(r && within(*r, type_range(to)));
        }
        if (from_fp && to_int) return true;
        if (from_fp && to_fp) return exact_bits(to) < exact_bits(from) || width(to) < width(from);
        // Integers wider than the target's significand round: float holds 24
        // bits exactly, double 53.
        if (from_int && to_fp) {
            if (width(from) - (is_unsigned(from) ? 0 : 1) <= exact_bits(to)) return false;
            const __int128 exact = static_cast<__int128>(1) << exact_bits(to);
            const auto r = range_of(from_expr);
            return !(r && within(*r, Range{-exact, exact}));
        }
        return false;
    }

    // Minimum and maximum of an integer target type as C literals.
    std::string int_bounds(QualType to) {
        const unsigned w = width(to);
        const bool u = is_unsigned(to);
        const bool wide = w > 32;
        std::string min, max;
        if (u) {
            min = "0";
            max = w >= 64 ? "18446744073709551615ULL" : std::to_string((1ULL << w) - 1) + (w == 32 ? "u" : "");
        } else {
            const unsigned long long m = 1ULL << (w - 1);
            min = w == 64 ? "(-9223372036854775807LL - 1)" : w == 32 ? "(-2147483647 - 1)" : "-" + std::to_string(m);
            max = std::to_string(m - 1) + (wide ? "LL" : "");
        }
        return min + ", " + max;
    }

    std::string type_name(QualType t) const {
        PrintingPolicy pp(ctx_.getLangOpts());
        pp.AnonymousTagLocations = false;  // never a path in the output
        return t.getAsString(pp);
    }

    // The cast probe for a conversion, and the bounds it is given; an empty
    // name where no probe takes the pair.
    std::pair<std::string, std::string> cast_member(QualType from, QualType to) {
        from = from.getCanonicalType();
        to = to.getCanonicalType();
        const std::string ff = floating(from), tf = floating(to);
        if (from->isIntegerType() && to->isIntegerType()) {
            if (width(from) > 64 || width(to) > 64) return {};
            // A 32-bit value against a 64-bit target's bounds: the _64 members.
            const std::string suffix = width(from) <= 32 && width(to) > 32 ? "_64" : "";
            return {"IXA_CAST_" + int_variant(from) + suffix, int_bounds(to)};
        }
        if (!ff.empty() && to->isIntegerType()) {
            if (width(to) > 64) return {};
            return {"IXA_CAST_" + std::string(ff == "LD" ? "LD" : "D") + "_" + int_variant(to), int_bounds(to)};
        }
        if (!ff.empty() && tf == "F")
            return {"IXA_CAST_" + std::string(ff == "LD" ? "LD" : "D") + "_F",
                    "-3.4028234663852886e+38, 3.4028234663852886e+38"};
        if (ff == "LD" && tf == "D") return {"IXA_CAST_LD_D", "-1.7976931348623157e+308, 1.7976931348623157e+308"};
        if (from->isIntegerType() && width(from) <= 64 && (tf == "F" || tf == "D")) {
            const std::string sign = is_unsigned(from) ? "U" : "S";
            if (tf == "F" && width(from) <= 32) return {"IXA_CAST_" + sign + "_32FP", "-16777216.0, 16777216.0"};
            if (tf == "F") return {"IXA_CAST_" + sign + "_LL_FP", "-16777216.0, 16777216.0"};
            return {"IXA_CAST_" + sign + "_LL_DP", "-9007199254740992.0, 9007199254740992.0"};
        }
        return {};
    }

    // The probe returns the value in its own type; C converts it to the
    // target where the plain code did, so no cast is written for an implicit
    // conversion (and none names a type the unit may not be able to spell).
    void cast_probe(Expr* sub, QualType to, int depth) {
        expr(sub, depth + 1);
        Span sp = span(sub->getSourceRange());
        if (!sp.ok) return refuse(sp, sub->getBeginLoc(), "a conversion");
        const auto [macro, bounds] = cast_member(sub->getType(), to);
        if (macro.empty())
            return warn(sub->getBeginLoc(), "no cast probe for a conversion from '" + type_name(sub->getType()) +
                                                "' to '" + type_name(to) + "'");
        const auto [open, close] = parenthesised(sub);
        wrap(sp, depth,
             probe(macro, "CAST", source_text(sp) + " to " + type_name(to), sub->getBeginLoc()) + ", " + open,
             close + ", " + bounds + ")");
        // A bound the value never crosses: its goal is one no input reaches.
        const QualType target = to.getCanonicalType();
        if (!target->isIntegerType() || !sub->getType()->isIntegerType()) return;
        observed(sub, {}, width(target), !is_unsigned(target));
        const auto r = range_of(sub);
        if (!r) return;
        const Range t = type_range(target);
        auto text = [](__int128 n) { return std::to_string(static_cast<long long>(n)); };
        const std::string values = source_text(sp) + " takes values " + text(r->lo) + " to " +
                                   (r->hi > static_cast<__int128>(INT64_MAX) ? std::string("2^64 - 1") : text(r->hi));
        if (r->lo >= t.lo) last().unreachable["belowMin"] = values + ", never below " + text(t.lo);
        if (r->hi <= t.hi) last().unreachable["aboveMax"] = values + ", never above " + text(t.hi);
    }

    // A wrapped expression becomes a probe's argument: anything but a primary
    // expression is parenthesised, so a comma operator stays one argument.
    static std::pair<std::string, std::string> parenthesised(const Expr* e) {
        e = e->IgnoreImpCasts();
        if (isa<ParenExpr>(e) || isa<DeclRefExpr>(e) || isa<IntegerLiteral>(e) || isa<FloatingLiteral>(e) ||
            isa<CharacterLiteral>(e) || isa<CallExpr>(e) || isa<MemberExpr>(e) || isa<ArraySubscriptExpr>(e))
            return {"", ""};
        return {"(", ")"};
    }

    void divisor(Expr* lhs, Expr* rhs, int depth) {
        if (rhs->isValueDependent() || rhs->isEvaluatable(ctx_)) return;
        Span sp = span(rhs->getSourceRange());
        if (!sp.ok) return refuse(sp, rhs->getBeginLoc(), "a divisor");
        if (order_matters(lhs, rhs)) return warn(rhs->getBeginLoc(), unordered("division"));
        QualType t = rhs->getType().getCanonicalType();
        std::string variant, cast_back;
        if (t->isIntegerType() && width(t) > 64)
            return warn(rhs->getBeginLoc(), "no division probe for a divisor of type '" + type_name(t) + "'");
        if (t->isIntegerType())
            variant = int_variant(t);
        else if (t->isRealFloatingType()) {
            // The probe returns double; the cast keeps the division in the
            // operand's own type (float -> double -> float is exact).
            variant = width(t) > 64 ? "LD" : width(t) == 32 ? "FD" : "D";
            if (variant == "FD") cast_back = "(float)";
        } else
            return;
        const auto [open, close] = parenthesised(rhs);
        wrap(sp, depth, cast_back + probe("IXA_DBZ_" + variant, "DBZ", source_text(sp), rhs->getBeginLoc()) + ", " + open,
             close + ")");
        observed(rhs, ranges_.divisor(rhs, source_text(sp)));
    }

    // A function defined in a header (static inline, typically) runs in the
    // unit but only the main file is rewritten: said once, where it is.
    void header_function(const FunctionDecl* callee) {
        const FunctionDecl* def = nullptr;
        if (!callee || !callee->hasBody(def) || !def) return;
        const SourceLocation at = sm_.getExpansionLoc(def->getLocation());
        if (sm_.isWrittenInMainFile(at) || sm_.isInSystemHeader(at)) return;
        if (!headers_warned_.insert(def).second) return;
        warn(def->getLocation(), "function '" + def->getNameAsString() +
                                     "' is defined in a header; kivinst instruments the main file only, so its "
                                     "body has no probes (its calls do)");
    }

    void call(CallExpr* ce, int depth, bool arguments = true) {
        header_function(ce->getDirectCallee());
        Span sp = span(ce->getSourceRange());
        std::string name;
        if (const FunctionDecl* fd = ce->getDirectCallee())
            name = fd->getNameAsString();
        else {
            Span callee = span(ce->getCallee()->getSourceRange());
            name = callee.ok ? source_text(callee) : "?";
        }
        if (!sp.ok)
            refuse(sp, ce->getBeginLoc(), "a call");
        else
            wrap(sp, depth, "(" + probe("IXA_DCF", "DCF", "call of " + name, ce->getBeginLoc()) + ", \"" + name + "\"), ", ")");
        if (!arguments) return;
        if (!ce->getDirectCallee()) expr(ce->getCallee(), depth + 1);
        for (Expr* arg : ce->arguments()) value(arg, depth + 1);
    }

    void expr(Expr* e, int depth) {
        if (!e) return;
        if (from_macro(e)) {
            // A call that is a whole invocation is still observed as a call.
            if (auto* ce = dyn_cast<CallExpr>(e)) {
                if (span(ce->getSourceRange()).ok) {
                    call(ce, depth, false);
                    for (Expr* arg : ce->arguments()) macro_left_alone(arg);
                    return;
                }
            }
            return macro_left_alone(e);
        }
        if (auto* bo = dyn_cast<BinaryOperator>(e)) {
            if (bo->isLogicalOp()) return decision(bo, depth);
            if (bo->isComparisonOp()) return relation(bo, depth);
            expr(bo->getLHS(), depth + 1);
            if (bo->getOpcode() == BO_Assign) {
                if (is_boolean_valued(bo->getRHS()))
                    decision(bo->getRHS(), depth + 1);
                else
                    value(bo->getRHS(), depth + 1);
                return;
            }
            expr(bo->getRHS(), depth + 1);
            const auto op = bo->getOpcode();
            if (op == BO_Div || op == BO_Rem || op == BO_DivAssign || op == BO_RemAssign)
                divisor(bo->getLHS(), bo->getRHS(), depth + 1);
            return;
        }
        if (auto* co = dyn_cast<ConditionalOperator>(e)) {
            decision(co->getCond(), depth + 1);
            expr(co->getTrueExpr(), depth + 1);
            expr(co->getFalseExpr(), depth + 1);
            return;
        }
        // Operands that are never evaluated, or must stay constant
        // expressions: a probe there would change what the program computes.
        if (isa<UnaryExprOrTypeTraitExpr>(e)) return;
        if (auto* ch = dyn_cast<ChooseExpr>(e)) return expr(ch->getChosenSubExpr(), depth + 1);
        if (auto* gs = dyn_cast<GenericSelectionExpr>(e)) {
            if (!gs->isResultDependent()) expr(gs->getResultExpr(), depth + 1);
            return;
        }
        if (auto* ce = dyn_cast<CallExpr>(e)) {
            if (ce->getBuiltinCallee() == Builtin::BI__builtin_constant_p) return;
            return call(ce, depth);
        }
        if (auto* cs = dyn_cast<CStyleCastExpr>(e)) {
            if (narrowing(cs->getSubExpr(), cs->getType())) return cast_probe(cs->getSubExpr(), cs->getType(), depth + 1);
            return expr(cs->getSubExpr(), depth + 1);
        }
        if (isa<StmtExpr>(e)) return warn(e->getBeginLoc(), "a statement expression is not instrumented");
        if (auto* il = dyn_cast<InitListExpr>(e)) {
            // A range designator ([0 ... 3] = f()) puts one expression in
            // several places; it is evaluated, and wrapped, once.
            std::set<const Expr*> seen;
            for (Expr* init : il->inits())
                if (seen.insert(init->IgnoreImpCasts()).second) value(init, depth + 1);
            return;
        }
        for (Stmt* child : e->children())
            if (auto* ce = dyn_cast_or_null<Expr>(child)) expr(ce, depth + 1);
    }

public:
    // What each probe observes, by record index: the behaviour prover's input.
    const std::map<std::size_t, prove::Probe>& probes() const { return probes_; }

private:
    // The last record observes node; the flags its type and constants rule out.
    void observed(const Expr* node, Unreachable flags, unsigned target_bits = 0, bool target_signed = false) {
        probes_[out_.records.size() - 1] = {node, last().kind, target_bits, target_signed};
        for (auto& [flag, why] : flags) last().unreachable.emplace(flag, std::move(why));
    }

    ASTContext& ctx_;
    std::map<std::size_t, prove::Probe> probes_;
    ValueRanges ranges_;
    SourceManager& sm_;
    int unit_;
    std::string root_;
    Output& out_;
    const std::map<unsigned, char>& conditionals_;  // the main file's #if ( #else | #endif ), by offset
    std::map<FileID, std::string> files_;
    std::set<unsigned> macros_warned_;
    std::set<const FunctionDecl*> headers_warned_;
    unsigned warn_ = 0;
    std::map<std::string, int> counters_;
    std::string function_;
    long stm_ = -1;  // the statement record whose run the statement being walked belongs to
    std::unique_ptr<ParentMap> parents_;
    std::set<const VarDecl*> addressed_;  // in the function being instrumented
    std::vector<Edit> edits_;
    unsigned seq_ = 0;
};

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
        Instrumenter inst(ctx, options_, out_, conditionals_);
        inst.run();
        if (!options_.prove.entries.empty()) behaviour(ctx, inst.probes());
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

// Which macros the unit's own files test and which they define, so that the
// output can refuse a configuration other than the one it was made for.
struct Configuration {
    using State = std::optional<std::string>;  // a macro's tokens, "()" if function-like; none: undefined
    std::set<std::string> tested_undefined;  // tested where no definition was in effect
    std::map<std::string, State> last_test;  // each tested macro, as its last test saw it
    std::map<std::string, State> at_end;     // the same macros at the end of the unit
    std::set<std::string> defined_at_start;  // by the compiler, the command line or a forced include
    std::set<std::string> guards;            // include guards of the unit's headers
    std::vector<BesideInclude> beside;       // quoted includes found in the source's folder
    std::map<unsigned, char> conditionals;   // the main file's #if... '(', #elif/#else '|', #endif ')', by offset
};

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

class Action : public ASTFrontendAction {
public:
    Action(const Options& options, Output& out, bool& done, Configuration& config)
        : options_(options), out_(out), done_(done), config_(config) {}
    std::unique_ptr<ASTConsumer> CreateASTConsumer(CompilerInstance&, StringRef) override {
        return std::make_unique<Consumer>(options_, out_, done_, config_.conditionals);
    }
    bool BeginSourceFileAction(CompilerInstance& ci) override {
        ci.getPreprocessor().addPPCallbacks(std::make_unique<ConfigurationWatcher>(ci.getPreprocessor(), config_));
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

// Preprocessor checks that refuse any other configuration of the macros the
// unit depends on: each -D as given (its value where it is an integer), and
// each macro the unit tests while nothing defined it still undefined.
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

// Checks at the end of the output: each macro the unit tests, as its tests
// saw it, where that is still so at the end (a value set in a header by
// another -I folder, or kept from a -D by the header's #ifndef).
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

}  // namespace

bool instrument(const Options& options, Output& out) {
    std::vector<std::string> args = options.compiler_args;
#ifdef KIVINST_RESOURCE_DIR
    // The tool is not installed beside clang, so clang's own headers
    // (stddef.h, stdbool.h) are found only through the path it was built with.
    args.insert(args.begin(), {"-resource-dir", KIVINST_RESOURCE_DIR});
#endif
    tooling::FixedCompilationDatabase db(".", args);
    tooling::ClangTool tool(db, {options.source});
    Output result;
    bool done = false;
    Configuration config;
    Factory factory(options, result, done, config);
    const int rc = tool.run(&factory);
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

// Make reads a space as a separator, '#' as a comment and '$' as a variable.
static std::string make_escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

std::string depfile(const std::string& target, const std::vector<std::string>& files) {
    std::string out = make_escaped(target) + ":";
    for (const auto& f : files) out += " \\\n  " + make_escaped(f);
    return out + "\n";
}

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

bool compiles(const Options& options, const std::string& source, const std::string& records,
              std::vector<std::string>& missing) {
    namespace fs = std::filesystem;
    const std::string probes = "/kivinst-probe-runtime";
    std::vector<std::string> args = {"-I" + probes};
#ifdef KIVINST_RESOURCE_DIR
    args.insert(args.end(), {"-resource-dir", KIVINST_RESOURCE_DIR});
#endif
    args.insert(args.end(), options.output_args.begin(), options.output_args.end());
    args.insert(args.end(), options.compiler_args.begin(), options.compiler_args.end());
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

std::string records_def(const Options& options, const std::vector<Record>& records) {
    std::ostringstream def;
    def << "// Probe records of translation unit " << options.unit << ", written by kivinst from "
        << relative_path(options.source, options.root)
        << ",\n"
        << "// one row per probe call site, in source order.\n"
        << "//\n"
        << "// IXA_RECORD(kind, record, function, what the call site observes)\n"
        << "#ifndef IXA_RECORD\n"
        << "#error \"define IXA_RECORD(kind, record, function, text) before including this file\"\n"
        << "#endif\n";
    std::string function;
    for (const Record& r : records) {
        if (r.function != function) def << "\n";
        function = r.function;
        def << "IXA_RECORD(" << r.kind << ", " << r.name << ", " << r.function << ", \"" << r.text << "\")\n";
    }
    // A unit's records.def includes every table of the unit under one IXA_RECORD.
    def << "\n#ifndef IXA_RECORD_KEEP\n#undef IXA_RECORD\n#endif\n";
    return def.str();
}

std::string sites_json(const Options& options, const std::vector<Record>& records) {
    std::ostringstream js;
    js << "{\"format\": 1, \"unit\": " << options.unit
       << ", \"source\": " << json_string(kiv::path_text(relative_path(options.source, options.root)))
       << ",\n \"sites\": [";
    const char* sep = "\n  ";
    for (const Record& r : records) {
        js << sep << "{\"record\": " << json_string(r.name) << ", \"kind\": " << json_string(r.kind)
           << ", \"function\": " << json_string(r.function) << ", \"file\": " << json_string(kiv::path_text(r.file))
           << ", \"line\": " << r.line << ", \"column\": " << r.column;
        if (r.kind == "CC") js << ", \"decision\": " << json_string(r.decision);
        if (r.kind == "DC") {
            js << ", \"conditions\": [";
            for (std::size_t i = 0; i < r.conditions.size(); ++i) js << (i ? ", " : "") << json_string(r.conditions[i]);
            js << "], \"expression\": " << json_string(r.expression);
        }
        if (!r.unreachable.empty()) {
            js << ", \"unreachable\": {";
            const char* comma = "";
            for (const auto& [field, why] : r.unreachable) js << comma << json_string(field) << ": " << json_string(why), comma = ", ";
            js << "}";
        }
        if (r.kind == "STM") {
            // Ranges in line order, overlapping and adjacent ones joined.
            auto lines = r.lines;
            std::sort(lines.begin(), lines.end());
            std::vector<std::pair<unsigned, unsigned>> merged;
            for (const auto& l : lines)
                if (!merged.empty() && l.first <= merged.back().second + 1)
                    merged.back().second = std::max(merged.back().second, l.second);
                else
                    merged.push_back(l);
            js << ", \"lines\": [";
            for (std::size_t i = 0; i < merged.size(); ++i)
                js << (i ? ", " : "") << "[" << merged[i].first << ", " << merged[i].second << "]";
            js << "]";
        }
        if (r.constants) {
            js << ", \"constants\": [";
            for (std::size_t i = 0; i < r.constants->size(); ++i) js << (i ? ", " : "") << (*r.constants)[i];
            js << "]";
        }
        js << "}";
        sep = ",\n  ";
    }
    js << "\n]}\n";
    return js.str();
}

}  // namespace kivinst
