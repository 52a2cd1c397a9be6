// The probe walk over functions and statements: entry and statement
// markers, branches and loops, switch cases, and the records' numbering.
#include "probe_walk.h"

#include "files.h"

#include <algorithm>

#include <clang/Basic/Diagnostic.h>
#include <clang/Basic/SourceManager.h>

namespace kivinst {

using namespace clang;

std::map<std::size_t, prove::Probe> walk_probes(ASTContext& ctx, const Options& options, Output& out,
                                                 const std::map<unsigned, char>& conditionals) {
    ProbeWalk walk(ctx, options, out, conditionals);
    walk.run();
    return walk.probes();
}

ProbeWalk::ProbeWalk(ASTContext& ctx, const Options& options, Output& out, const std::map<unsigned, char>& conditionals)
    : ctx_(ctx), ranges_(ctx), sm_(ctx.getSourceManager()), unit_(options.unit), root_(options.root), out_(out),
      edits_(ctx, conditionals) {
    auto& diags = ctx.getDiagnostics();
    warn_ = diags.getCustomDiagID(DiagnosticsEngine::Warning, "%0; left as it is");
}

void ProbeWalk::run() {
    for (Decl* d : ctx_.getTranslationUnitDecl()->decls()) {
        auto* fd = dyn_cast<FunctionDecl>(d);
        if (!fd || !fd->doesThisDeclarationHaveABody()) continue;
        if (!sm_.isWrittenInMainFile(sm_.getExpansionLoc(fd->getBeginLoc()))) continue;
        function(fd);
    }
    out_.source = edits_.apply();
}

std::string ProbeWalk::allocate(const std::string& kind, const std::string& text, SourceLocation at, int& number) {
    struct Naming {
        const char* name;      // between TU<unit> and the number
        const char* sequence;  // the kind whose numbering it shares
    };
    static const std::map<std::string, Naming> naming = {
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) {#kind, {name, #sequence}},
#include "instrumentation/probe_kinds.def"
    };
    const Naming& n = naming.at(kind);
    number = ++counters_[n.sequence];
    const std::string name = "TU" + std::to_string(unit_) + n.name + std::to_string(number);
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

void ProbeWalk::place(Record& r, SourceLocation at) {
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

std::string ProbeWalk::probe(const std::string& macro, const std::string& kind, const std::string& text, SourceLocation at) {
    int number = 0;
    const std::string rec = allocate(kind, text, at, number);
    return macro + "(" + std::to_string(number) + ", &" + rec;
}

void ProbeWalk::refuse(const Span& s, SourceLocation loc, const std::string& what) {
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

bool ProbeWalk::from_macro(const Stmt* s) const {
    const SourceLocation b = s->getBeginLoc(), e = s->getEndLoc();
    return b.isMacroID() && e.isMacroID() && sm_.getExpansionLoc(b) == sm_.getExpansionLoc(e);
}

bool ProbeWalk::observable(const Stmt* s) {
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

void ProbeWalk::macro_left_alone(const Stmt* s) {
    if (!observable(s)) return;
    // A constant (LIMIT as (300 / INTERVAL)) does the same in every run.
    if (const auto* e = dyn_cast<Expr>(s); e && !e->isValueDependent() && e->isEvaluatable(ctx_)) return;
    const SourceLocation at = sm_.getExpansionLoc(s->getBeginLoc());
    if (!macros_warned_.insert(at.getRawEncoding()).second) return;
    warn(s->getBeginLoc(), "what a macro expands to is not instrumented inside its invocation");
}

void ProbeWalk::warn(SourceLocation loc, const std::string& what) {
    ctx_.getDiagnostics().Report(loc, warn_) << what;
}

void ProbeWalk::function(FunctionDecl* fd) {
    auto* body = dyn_cast<CompoundStmt>(fd->getBody());
    if (!body) return;
    function_ = fd->getNameAsString();
    parents_ = std::make_unique<ParentMap>(body);
    addressed_.clear();
    addressed(body);
    stm_ = -1;
    if (const auto brace = edits_.after_token(body->getLBracLoc())) {
        const unsigned at = block_head(body, *brace);
        edits_.insert(at, kOpen, kMarkerDepth, " " + probe("IXA_FC", "FC", "function entry", fd->getLocation()) + ");");
        edits_.insert(at, kOpen, kMarkerDepth, " " + probe("IXA_STM", "STM", "body", body->getLBracLoc()) + ");");
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

void ProbeWalk::cover(SourceLocation begin, SourceLocation end) {
    if (stm_ < 0 || begin.isInvalid() || end.isInvalid()) return;
    const SourceLocation b = sm_.getExpansionLoc(begin), e = sm_.getExpansionRange(end).getEnd();
    if (sm_.getFileID(b) != sm_.getMainFileID() || sm_.getFileID(e) != sm_.getMainFileID()) return;
    const unsigned first = sm_.getExpansionLineNumber(b), last = sm_.getExpansionLineNumber(e);
    if (first && last >= first) out_.records[static_cast<std::size_t>(stm_)].lines.emplace_back(first, last);
}

void ProbeWalk::cover_statement(Stmt* s) {
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

bool ProbeWalk::is_control(const Stmt* s) {
    while (const auto* sc = dyn_cast<SwitchCase>(s)) s = sc->getSubStmt();
    while (const auto* ls = dyn_cast<LabelStmt>(s)) s = ls->getSubStmt();
    return isa<IfStmt>(s) || isa<SwitchStmt>(s) || isa<WhileStmt>(s) || isa<DoStmt>(s) || isa<ForStmt>(s);
}

void ProbeWalk::statements(CompoundStmt* cs) {
    bool after_control = false;
    const Stmt* previous = nullptr;
    for (Stmt* s : cs->body()) {
        if (after_control && !isa<SwitchCase>(s)) {
            Span sp = edits_.span(s->getSourceRange());
            if (sp.ok)
                edits_.insert(sp.begin, kOpen, kMarkerDepth,
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

std::string ProbeWalk::line_of(SourceLocation loc) {
    return std::to_string(sm_.getExpansionLineNumber(loc));
}

void ProbeWalk::branch(Stmt* s, const std::string& what) {
    const long outer = stm_;
    branch_run(s, what);
    stm_ = outer;
}

void ProbeWalk::branch_run(Stmt* s, const std::string& what) {
    if (auto* cs = dyn_cast<CompoundStmt>(s)) {
        if (const auto brace = edits_.after_token(cs->getLBracLoc())) {
            edits_.insert(block_head(cs, *brace), kOpen, kMarkerDepth, " " + probe("IXA_STM", "STM", what, cs->getLBracLoc()) + ");");
            statements(cs);
        } else {
            warn(cs->getLBracLoc(), "a block opened by a macro has no statement probe");
            stm_ = -1;  // its lines have no count of their own
            statement(cs);
        }
        return;
    }
    Span sp = edits_.span(s->getSourceRange());
    if (!sp.ok) {
        if (sp.directive || !s->getBeginLoc().isMacroID()) return refuse(sp, s->getBeginLoc(), "a branch");
        warn(s->getBeginLoc(), "a branch that is part of a macro invocation is not instrumented");
        return;
    }
    edits_.insert(sp.begin, kOpen, kBranchDepth, "{ " + probe("IXA_STM", "STM", what, s->getBeginLoc()) + "); ");
    edits_.insert(edits_.statement_end(s), kClose, kBranchDepth, " }");
    statement(s);
}

unsigned ProbeWalk::block_head(CompoundStmt* cs, unsigned after_brace) {
    unsigned at = after_brace;
    for (Stmt* s : cs->body()) {
        if (!isa<DeclStmt>(s) || !sm_.isWrittenInMainFile(sm_.getExpansionRange(s->getEndLoc()).getEnd())) break;
        at = edits_.statement_end(s);
    }
    return at;
}

void ProbeWalk::label(SwitchCase* first, const Stmt* previous) {
    std::vector<SwitchCase*> stack;
    Stmt* body = first;
    while (auto* sc = dyn_cast<SwitchCase>(body)) stack.push_back(sc), body = sc->getSubStmt();
    std::vector<unsigned> colons;
    int last_case = 0;  // the number of the last label's record: the jump target is named by it
    for (SwitchCase* sc : stack) {
        const auto colon = edits_.after_token(sc->getColonLoc());
        if (!colon) {
            warn(sc->getBeginLoc(), "a case label from a macro is not instrumented");
            continue;
        }
        std::string what = "default";
        if (auto* cs = dyn_cast<CaseStmt>(sc)) {
            Span sp = edits_.span(cs->getLHS()->getSourceRange());
            what = "case " + (sp.ok ? edits_.text(sp) : std::string("?"));
        }
        const std::string rec = allocate("SC", what, sc->getBeginLoc(), last_case);
        edits_.insert(*colon, kOpen, kMarkerDepth, " IXA_SC(" + std::to_string(last_case) + ", &" + rec + ");");
        last().constants.emplace();
        if (auto* cs = dyn_cast<CaseStmt>(sc)) {
            Expr::EvalResult v;
            if (cs->getLHS()->EvaluateAsInt(v, ctx_)) last().constants->push_back(v.Val.getInt().getExtValue());
        }
        colons.push_back(*colon);
    }
    if (colons.empty()) return statement(body);
    const std::string target = "kiv_case" + std::to_string(last_case);
    const Stmt* before = previous;
    while (before && (isa<SwitchCase>(before) || isa<LabelStmt>(before)))
        before = isa<SwitchCase>(before) ? cast<SwitchCase>(before)->getSubStmt() : cast<LabelStmt>(before)->getSubStmt();
    const bool falls_in = before && !isa<BreakStmt>(before) && !isa<ReturnStmt>(before) &&
                          !isa<ContinueStmt>(before) && !isa<GotoStmt>(before);
    const Span head = edits_.span(stack.front()->getBeginLoc());
    const bool jump_in = falls_in && head.ok;
    if (jump_in) edits_.insert(head.begin, kOpen, kMarkerDepth, "goto " + target + "; ");
    for (std::size_t i = 0; i + 1 < colons.size(); ++i) edits_.insert(colons[i], kOpen, kMarkerDepth, " goto " + target + ";");
    if (jump_in || colons.size() > 1) edits_.insert(colons.back(), kOpen, kMarkerDepth, " " + target + ":");
    std::string what = "default";
    if (auto* cs = dyn_cast<CaseStmt>(stack.back())) {
        Span sp = edits_.span(cs->getLHS()->getSourceRange());
        what = "case " + (sp.ok ? edits_.text(sp) : std::string("?"));
    }
    edits_.insert(colons.back(), kOpen, kMarkerDepth, " " + probe("IXA_STM", "STM", what, stack.back()->getBeginLoc()) + ");");
    for (SwitchCase* sc : stack) cover(sc->getBeginLoc(), sc->getColonLoc());
    statement(body);
}

void ProbeWalk::statement(Stmt* s) {
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
            Span sp = edits_.span(ss->getBody()->getSourceRange());
            if (!sp.ok) {
                stm_ = outer;
                return refuse(sp, ss->getBody()->getBeginLoc(), "a switch body");
            }
            edits_.insert(sp.begin, kOpen, kBranchDepth, "{ ");
            edits_.insert(edits_.statement_end(ss->getBody()), kClose, kBranchDepth, " }");
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

void ProbeWalk::jump(GotoStmt* gs) {
    LabelStmt* target = gs->getLabel()->getStmt();
    if (!target || !parents_) return;
    const Stmt* block = parents_->getParent(target);
    while (block && !isa<CompoundStmt>(block)) block = parents_->getParent(block);
    for (const Stmt* p = gs; p; p = parents_->getParent(p))
        if (p == block) return;
    warn(gs->getBeginLoc(), "a goto into a block skips the block's statement probe");
}

void ProbeWalk::observed(const Expr* node, Unreachable flags, unsigned target_bits, bool target_signed) {
    probes_[out_.records.size() - 1] = {node, last().kind, target_bits, target_signed};
    for (auto& [flag, why] : flags) last().unreachable.emplace(flag, std::move(why));
}

}  // namespace kivinst
