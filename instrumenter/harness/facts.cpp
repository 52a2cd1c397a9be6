// kivinst harness: parses the unit's and the environment's sources and
// collects, per function and file-scope variable, what the generator needs:
// types reduced to fixed-width scalars, who calls whom, who names what.
#include "facts.h"

#include "driver.h"
#include "instrument.h"

#include <memory>
#include <regex>
#include <sstream>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>
#include <clang/AST/RecursiveASTVisitor.h>
#include <clang/Basic/SourceManager.h>
#include <clang/Frontend/ASTUnit.h>
#include <clang/Lex/MacroInfo.h>
#include <clang/Lex/Preprocessor.h>
#include <clang/Tooling/CompilationDatabase.h>
#include <clang/Tooling/Tooling.h>

namespace kivinst::harness {

std::string Loc::str() const {
    if (line == 0) return file;
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

namespace {

using namespace clang;

constexpr long kMaxArray = 64;  // larger arrays are not spread into variables
constexpr int kMaxDepth = 4;

Loc location(const SourceManager& sm, SourceLocation at) {
    Loc l;
    PresumedLoc p = sm.getPresumedLoc(sm.getExpansionLoc(at));
    if (p.isInvalid()) return l;
    l.file = p.getFilename();
    l.line = p.getLine();
    l.column = p.getColumn();
    return l;
}

PrintingPolicy policy(const ASTContext& ctx) {
    PrintingPolicy p(ctx.getLangOpts());
    p.SuppressTagKeyword = false;
    p.Bool = true;
    return p;
}

std::string printed(QualType t, const ASTContext& ctx, const std::string& name = "") {
    std::string s;
    llvm::raw_string_ostream os(s);
    t.print(os, policy(ctx), name);
    return os.str();
}

}  // namespace

// The fixed-width token of a scalar type, or "" with why set.
std::string scalar_token(QualType t, const ASTContext& ctx, std::string& why) {
    QualType c = t.getCanonicalType().getUnqualifiedType();
    if (const auto* e = c->getAs<EnumType>()) c = e->getDecl()->getIntegerType().getCanonicalType();
    if (c->isBooleanType()) return "bool";
    if (c->isIntegerType()) {
        const uint64_t bits = ctx.getTypeSize(c);
        if (bits != 8 && bits != 16 && bits != 32 && bits != 64) {
            why = "an integer of " + std::to_string(bits) + " bits";
            return "";
        }
        return std::string(c->isSignedIntegerType() ? "int" : "uint") + std::to_string(bits) + "_t";
    }
    if (c->isSpecificBuiltinType(BuiltinType::Float)) return "float";
    if (c->isSpecificBuiltinType(BuiltinType::Double)) return "double";
    if (c->isRealFloatingType()) why = "a floating type other than float or double";
    else if (c->isFunctionPointerType()) why = "a function pointer";
    else if (c->isPointerType()) why = "a pointer";
    else if (c->isUnionType()) why = "a union";
    else if (c->isStructureType()) why = "a struct";
    else if (c->isArrayType()) why = "an array";
    else why = "of type " + printed(t, ctx);
    return "";
}

// The enumerators of an enum type, empty for any other.
std::vector<std::pair<std::string, int64_t>> enumerators_of(QualType t) {
    std::vector<std::pair<std::string, int64_t>> out;
    if (const auto* e = t.getCanonicalType()->getAs<EnumType>())
        if (const EnumDecl* d = e->getDecl()->getDefinition())
            for (const EnumConstantDecl* c : d->enumerators())
                out.push_back({c->getNameAsString(), c->getInitVal().getExtValue()});
    return out;
}

// The scalars inside a value of type t, their paths below prefix; false with
// why when some part cannot be a harness variable.
bool collect_leaves(QualType t, const ASTContext& ctx, const std::string& prefix, std::vector<Leaf>& out,
                    std::string& why, int depth) {
    std::string w;
    std::string tok = scalar_token(t, ctx, w);
    if (!tok.empty()) {
        out.push_back({prefix, tok, enumerators_of(t)});
        return true;
    }
    QualType c = t.getCanonicalType();
    if (depth >= kMaxDepth) {
        why = "nested too deeply";
        return false;
    }
    if (const auto* a = ctx.getAsConstantArrayType(c)) {
        const long n = static_cast<long>(a->getSize().getZExtValue());
        if (n > kMaxArray) {
            why = "an array of " + std::to_string(n) + " elements (at most " + std::to_string(kMaxArray) + " are spread)";
            return false;
        }
        for (long i = 0; i < n; ++i)
            if (!collect_leaves(a->getElementType(), ctx, prefix + "[" + std::to_string(i) + "]", out, why, depth + 1))
                return false;
        return true;
    }
    if (const auto* r = c->getAs<RecordType>()) {
        const RecordDecl* rd = r->getDecl()->getDefinition();
        if (!rd) {
            why = "an incomplete struct";
            return false;
        }
        if (rd->isUnion()) {
            why = "a union";
            return false;
        }
        for (const FieldDecl* f : rd->fields()) {
            if (f->isBitField()) {
                why = "a struct with the bit-field " + f->getNameAsString();
                return false;
            }
            if (f->getName().empty()) {
                why = "a struct with an unnamed member";
                return false;
            }
            if (!collect_leaves(f->getType(), ctx, prefix + "." + f->getNameAsString(), out, why, depth + 1)) {
                why = "a struct whose member " + f->getNameAsString() + " is " + why;
                return false;
            }
        }
        return true;
    }
    why = w;
    return false;
}

namespace {

class Collector : public RecursiveASTVisitor<Collector> {
public:
    Collector(ASTContext& ctx, Facts& facts, const std::string& tu, bool env)
        : ctx_(ctx), sm_(ctx.getSourceManager()), facts_(facts), tu_(tu), env_(env) {}

    void run() {
        for (Decl* d : ctx_.getTranslationUnitDecl()->decls()) {
            if (auto* fd = dyn_cast<FunctionDecl>(d)) function(fd);
            else if (auto* vd = dyn_cast<VarDecl>(d)) global(vd);
        }
    }

    bool VisitCallExpr(CallExpr* call) {
        if (const FunctionDecl* callee = call->getDirectCallee()) {
            if (!current_) return true;
            current_->calls.insert(callee->getNameAsString());
            auto& f = facts_.functions[callee->getNameAsString()];
            if (f.name.empty()) declare(f, callee);
        }
        return true;
    }

    bool VisitVarDecl(VarDecl* vd) {
        if (current_ && vd->isStaticLocal() && !vd->getType().isConstQualified())
            current_->static_locals.push_back({vd->getNameAsString(), location(sm_, vd->getLocation())});
        return true;
    }

    bool VisitDeclRefExpr(DeclRefExpr* ref) {
        if (!current_) return true;
        if (const auto* vd = dyn_cast<VarDecl>(ref->getDecl()))
            if (vd->hasGlobalStorage() && !vd->isStaticLocal()) current_->globals.insert(vd->getNameAsString());
        if (const auto* fd = dyn_cast<FunctionDecl>(ref->getDecl())) {
            // Taken by address: the function is used, though not called here.
            current_->calls.insert(fd->getNameAsString());
            auto& f = facts_.functions[fd->getNameAsString()];
            if (f.name.empty()) declare(f, fd);
        }
        return true;
    }

private:
    void declare(Function& f, const FunctionDecl* fd) {
        f.name = fd->getNameAsString();
        f.tu = tu_;
        f.loc = location(sm_, fd->getLocation());
        f.external = fd->isExternallyVisible();
        f.variadic = fd->isVariadic();
        f.system = sm_.isInSystemHeader(sm_.getExpansionLoc(fd->getLocation())) || fd->getBuiltinID() != 0;
        f.return_type = printed(fd->getReturnType(), ctx_);
        f.return_leaves.clear();
        f.return_why.clear();
        if (!fd->getReturnType()->isVoidType() &&
            !collect_leaves(fd->getReturnType(), ctx_, "", f.return_leaves, f.return_why, 0))
            f.return_leaves.clear();
        f.params.clear();
        std::string proto;
        int k = 0;
        for (const ParmVarDecl* p : fd->parameters()) {
            ++k;
            Param prm;
            prm.name = p->getName().empty() ? "arg" + std::to_string(k) : p->getNameAsString();
            prm.loc = location(sm_, p->getLocation());
            QualType t = p->getType();
            prm.decl_type = printed(t.getUnqualifiedType(), ctx_);
            std::string why;
            std::string tok = scalar_token(t, ctx_, why);
            if (!tok.empty()) {
                prm.kind = ParamKind::Scalar;
                prm.leaves.push_back({"", tok, enumerators_of(t)});
            } else if (t->isPointerType() && !t->isFunctionPointerType()) {
                QualType pt = t->getPointeeType();
                prm.pointee_const = pt.isConstQualified();
                prm.pointee = printed(pt.getUnqualifiedType(), ctx_);
                std::string w2;
                std::string ptok = scalar_token(pt, ctx_, w2);
                if (!ptok.empty()) {
                    prm.kind = ParamKind::PointerToScalar;
                    prm.leaves.push_back({"", ptok, enumerators_of(pt)});
                } else if (pt->isStructureType() && collect_leaves(pt, ctx_, "", prm.leaves, w2, 0)) {
                    prm.kind = ParamKind::PointerToStruct;
                } else {
                    prm.leaves.clear();
                    prm.why = "a pointer to " + (pt->isVoidType() ? std::string("void") : w2);
                }
            } else if (t->isStructureType() && collect_leaves(t, ctx_, "", prm.leaves, why, 0)) {
                prm.kind = ParamKind::Struct;
            } else {
                prm.leaves.clear();
                prm.why = why;
            }
            if (!proto.empty()) proto += ", ";
            proto += printed(t, ctx_, prm.name);
            f.params.push_back(std::move(prm));
        }
        if (f.variadic) proto += proto.empty() ? "..." : ", ...";
        if (proto.empty()) proto = "void";
        f.declaration = printed(fd->getReturnType(), ctx_, f.name + "(" + proto + ")");
    }

    void function(FunctionDecl* fd) {
        const std::string name = fd->getNameAsString();
        Function& f = facts_.functions[name];
        if (f.name.empty()) declare(f, fd);
        if (!fd->doesThisDeclarationHaveABody()) return;
        declare(f, fd);  // the definition's parameter names win
        if (env_) {
            f.environment = true;
        } else {
            if (f.defined && f.tu != tu_ && fd->isExternallyVisible())
                throw BadInput(location(sm_, fd->getLocation()).str() + ": " + name + " is defined in two sources");
            f.defined = true;
        }
        f.tu = tu_;
        Function* saved = current_;
        current_ = &f;
        TraverseStmt(fd->getBody());
        current_ = saved;
    }

    void global(VarDecl* vd) {
        const std::string name = vd->getNameAsString();
        Global& g = facts_.globals[name];
        const bool definition = vd->isThisDeclarationADefinition() != VarDecl::DeclarationOnly;
        if (!g.name.empty() && !definition) return;
        if (!g.name.empty() && (g.defined || g.environment) && !env_ && g.tu != tu_ && vd->isExternallyVisible() &&
            vd->hasInit())
            throw BadInput(location(sm_, vd->getLocation()).str() + ": " + name + " is defined in two sources");
        g.name = name;
        g.tu = tu_;
        g.loc = location(sm_, vd->getLocation());
        g.external = vd->isExternallyVisible();
        g.system = sm_.isInSystemHeader(sm_.getExpansionLoc(vd->getLocation()));
        g.is_const = vd->getType().isConstQualified() ||
                     (vd->getType()->isArrayType() && ctx_.getBaseElementType(vd->getType()).isConstQualified());
        g.decl = printed(vd->getType(), ctx_, name);
        g.leaves.clear();
        g.why.clear();
        if (!collect_leaves(vd->getType(), ctx_, "", g.leaves, g.why, 0)) g.leaves.clear();
        g.array_size = -1;
        std::string w;
        g.element_type = scalar_token(vd->getType(), ctx_, w);
        if (const auto* a = ctx_.getAsConstantArrayType(vd->getType())) {
            std::string w2;
            g.element_type = scalar_token(a->getElementType(), ctx_, w2);
            g.array_size = static_cast<long>(a->getSize().getZExtValue());
        }
        if (definition) {
            if (env_) g.environment = true;
            else g.defined = true;
        }
        if (vd->hasInit()) TraverseStmt(vd->getInit());
    }

    ASTContext& ctx_;
    const SourceManager& sm_;
    Facts& facts_;
    std::string tu_;
    bool env_;
    Function* current_ = nullptr;
};

// The harness's own names: its glue, frames and exports (kiv_...), the
// runtime's macros and goal flags (KIV_SCOPE_UID, KIV_G<n>, ...), the probe
// runtime's macros and records (IXA_..., TU<n>ixa_..., TU<n>_RELOP_<k>).
bool reserved(const std::string& name) {
    static const std::regex own(
        "^(kiv_|ixa_|IXA_)|^TU[0-9]+(ixa_|_[A-Z]+_[0-9])|^KIV_(G[0-9]+|ACCESS_FUNCTIONS|API|EXPORT_DATA|EXPORT_FN|"
        "FOLD_[A-Z_]*|GOAL|GOAL_ID|HAUX|IN|INOUT|INPUT_ID|OUT|SCOPE|SCOPE_UID|TYPE_OF|UNIT_ENVIRONMENT_INIT|"
        "UNIT_PRE_STEP)$");
    return std::regex_search(name, own);
}

// A name of the unit's own files (declared at file scope, an enumerator, a
// macro) that is one of the harness's would be linked or expanded in place
// of it, or it in place of the harness's: refused at its place.
void refuse_reserved(ASTUnit& ast) {
    const SourceManager& sm = ast.getSourceManager();
    auto check = [&](const std::string& name, SourceLocation at) {
        if (at.isInvalid() || !reserved(name)) return;
        const SourceLocation file = sm.getExpansionLoc(at);
        if (sm.isInSystemHeader(file) || sm.isWrittenInBuiltinFile(file) || sm.isWrittenInCommandLineFile(file)) return;
        throw BadInput(location(sm, at).str() + ": " + name +
                       " is named like the harness's own (kiv_..., IXA_..., KIV_SCOPE_UID, KIV_G<n>, TU<n>ixa_...), "
                       "which it would collide with; rename it");
    };
    for (const Decl* d : ast.getASTContext().getTranslationUnitDecl()->decls()) {
        if (const auto* nd = dyn_cast<NamedDecl>(d); nd && nd->getIdentifier()) check(nd->getNameAsString(), nd->getLocation());
        if (const auto* ed = dyn_cast<EnumDecl>(d))
            for (const EnumConstantDecl* c : ed->enumerators()) check(c->getNameAsString(), c->getLocation());
    }
    Preprocessor& pp = ast.getPreprocessor();
    for (const auto& [ident, state] : pp.macros())
        if (const MacroDirective* md = pp.getLocalMacroDirectiveHistory(ident)) check(ident->getName().str(), md->getLocation());
}

}  // namespace

void collect_facts(const std::vector<std::string>& compiler_args, Facts& facts) {
    std::vector<std::string> all = facts.sources;
    all.insert(all.end(), facts.environment.begin(), facts.environment.end());
    kivinst::Parse parse(compiler_args, all);
    std::vector<std::unique_ptr<ASTUnit>> asts;
    const int rc = parse.tool().buildASTs(asts);
    bool broken = rc != 0 || asts.size() != all.size();
    for (const auto& ast : asts)
        if (ast->getDiagnostics().hasErrorOccurred()) broken = true;
    if (broken) throw BadInput("the unit does not parse (the compiler's diagnostics are above); nothing written");
    // Unit sources first, so a stub's home is the first unit source that calls it.
    for (std::size_t i = 0; i < asts.size(); ++i) {
        const bool env = i >= facts.sources.size();
        refuse_reserved(*asts[i]);
        Collector c(asts[i]->getASTContext(), facts, all[i], env);
        c.run();
        for (auto& f : kivinst::opened_files(asts[i]->getSourceManager())) facts.opened.push_back(std::move(f));
    }
}

}  // namespace kivinst::harness
