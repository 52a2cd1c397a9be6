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
#include <clang/AST/TypeLoc.h>
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

constexpr long kMaxArray = 128;  // elements spread into variables; the rest of an array is skipped
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
    // An atomic scalar is read and written as its value: a step is one thread.
    if (const auto* a = c->getAs<AtomicType>()) c = a->getValueType().getCanonicalType().getUnqualifiedType();
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

// The scalars inside a value of type t, their paths below prefix. A part no
// variable can carry is listed in skipped (when given) and the rest kept; false
// with why when nothing is left, or when the value itself is no aggregate.
bool collect_leaves(QualType t, const ASTContext& ctx, const std::string& prefix, std::vector<Leaf>& out,
                    std::string& why, int depth, std::vector<Skipped>* skipped = nullptr) {
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
    const std::size_t before = out.size();
    auto skip = [&](const std::string& path, const std::string& reason) {
        if (!skipped) return false;
        skipped->push_back({path, reason});
        return true;
    };
    if (const auto* a = ctx.getAsConstantArrayType(c)) {
        const long n = static_cast<long>(a->getSize().getZExtValue());
        const long spread = std::min(n, kMaxArray);
        for (long i = 0; i < spread; ++i)
            if (!collect_leaves(a->getElementType(), ctx, prefix + "[" + std::to_string(i) + "]", out, why, depth + 1,
                                skipped))
                return false;
        if (n > spread && !skip(prefix + "[" + std::to_string(spread) + "..]",
                                "elements beyond the first " + std::to_string(kMaxArray) + " of " + std::to_string(n))) {
            why = "an array of " + std::to_string(n) + " elements (at most " + std::to_string(kMaxArray) + " are spread)";
            out.resize(before);
            return false;
        }
        return out.size() > before;
    }
    if (const auto* r = c->getAs<RecordType>()) {
        const RecordDecl* rd = r->getDecl()->getDefinition();
        if (!rd) {
            why = "an incomplete struct";
            return false;
        }
        if (rd->isUnion()) {
            // Which member is live is the unit's business: its bytes are what it holds.
            const long bytes = static_cast<long>(ctx.getTypeSize(c) / 8);
            for (long i = 0; i < bytes && i < kMaxArray; ++i) {
                Leaf l{prefix + "[" + std::to_string(i) + "]", "uint8_t"};
                l.union_path = prefix;
                l.union_byte = i;
                out.push_back(l);
            }
            return bytes > 0;
        }
        for (const FieldDecl* f : rd->fields()) {
            const std::string path = prefix + "." + f->getNameAsString();
            std::string fw;
            if (f->getName().empty()) {
                if (skip(prefix + ".<unnamed>", "an unnamed member")) continue;
                why = "a struct with an unnamed member";
                return false;
            }
            if (f->isBitField()) {
                std::string bt = scalar_token(f->getType(), ctx, fw);
                if (!bt.empty()) {
                    Leaf l{path, bt};
                    l.bitfield = true;
                    out.push_back(l);
                    continue;
                }
            } else if (collect_leaves(f->getType(), ctx, path, out, fw, depth + 1, skipped)) {
                continue;
            }
            if (skip(path, fw)) continue;
            why = "a struct whose member " + f->getNameAsString() + " is " + fw;
            out.resize(before);
            return false;
        }
        if (out.size() == before) {
            why = "a struct of which no member can be a harness variable";
            return false;
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
            ++f.call_sites;
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
        std::vector<std::pair<QualType, std::string>> params;
        for (const ParmVarDecl* p : fd->parameters()) params.push_back({p->getType(), p->getNameAsString()});
        std::vector<Loc> locs;
        for (const ParmVarDecl* p : fd->parameters()) locs.push_back(location(sm_, p->getLocation()));
        std::vector<TypeLoc> tls;
        for (const ParmVarDecl* p : fd->parameters())
            tls.push_back(p->getTypeSourceInfo() ? p->getTypeSourceInfo()->getTypeLoc() : TypeLoc());
        signature(f, fd->getReturnType(), params, locs, tls, f.variadic, 0);
    }

    // The parameter names a function pointer's type was written with, looking
    // through parentheses, pointers and typedefs; empty where it has none.
    static std::vector<std::string> proto_names(TypeLoc tl) {
        for (int guard = 0; guard < 8 && !tl.isNull(); ++guard) {
            tl = tl.IgnoreParens();
            if (auto fp = tl.getAs<FunctionProtoTypeLoc>()) {
                std::vector<std::string> out;
                for (unsigned i = 0; i < fp.getNumParams(); ++i)
                    out.push_back(fp.getParam(i) ? fp.getParam(i)->getNameAsString() : "");
                return out;
            }
            if (auto pt = tl.getAs<PointerTypeLoc>()) tl = pt.getPointeeLoc();
            else if (auto td = tl.getAs<TypedefTypeLoc>())
                tl = td.getTypedefNameDecl()->getTypeSourceInfo() ? td.getTypedefNameDecl()->getTypeSourceInfo()->getTypeLoc()
                                                                   : TypeLoc();
            else if (auto q = tl.getAs<QualifiedTypeLoc>()) tl = q.getUnqualifiedLoc();
            else if (auto at = tl.getAs<AttributedTypeLoc>()) tl = at.getModifiedLoc();
            else break;
        }
        return {};
    }

    // What a length parameter is called: n, len, size, cap, count and the like.
    static bool length_name(const std::string& name) {
        static const std::regex like(
            "(n|len|length|size|sz|cap|capacity|count|cnt|num|bytes|nbytes|maxlen|max_len|(num|n)_.*|"
            ".*_(n|len|length|size|sz|cap|capacity|count|cnt|num|bytes)|.*(Len|Length|Size|Cap|Capacity|Count|Num|Bytes))",
            std::regex::icase);
        return std::regex_match(name, like);
    }

    // Fills f's result and parameters from a signature (a declaration's, or a
    // function pointer's for a callback the harness provides).
    void signature(Function& f, QualType ret, const std::vector<std::pair<QualType, std::string>>& params,
                   const std::vector<Loc>& locs, const std::vector<TypeLoc>& tls, bool variadic, int depth) {
        f.return_type = printed(ret, ctx_);
        f.return_leaves.clear();
        f.return_why.clear();
        if (!ret->isVoidType() && !collect_leaves(ret, ctx_, "", f.return_leaves, f.return_why, 0))
            f.return_leaves.clear();
        f.params.clear();
        std::string proto;
        for (std::size_t i = 0; i < params.size(); ++i) {
            Param prm = classify(params[i].first, params[i].second.empty() ? "arg" + std::to_string(i + 1) : params[i].second,
                                 locs[i], i < tls.size() ? tls[i] : TypeLoc(), f.name, depth);
            if (!proto.empty()) proto += ", ";
            proto += printed(params[i].first, ctx_, prm.name);
            f.params.push_back(std::move(prm));
        }
        // A pointer followed by a length is a buffer of that length.
        for (std::size_t i = 0; i + 1 < f.params.size(); ++i) {
            Param& p = f.params[i];
            Param& n = f.params[i + 1];
            const bool pointer = p.kind == ParamKind::PointerToScalar || (p.kind == ParamKind::Other && !p.element.empty());
            const bool counted = n.kind == ParamKind::Scalar && n.leaves[0].type.find("int") != std::string::npos &&
                                 length_name(n.name);
            if (counted && (pointer || p.kind == ParamKind::PointerToStruct)) {  // structs: an array of them
                p.kind = ParamKind::Buffer;
                p.length = static_cast<int>(i + 1);
                p.why.clear();
                n.length_of = static_cast<int>(i);
            }
        }
        if (variadic) proto += proto.empty() ? "..." : ", ...";
        if (proto.empty()) proto = "void";
        f.declaration = printed(ret, ctx_, f.name + "(" + proto + ")");
    }

    // The function-pointer members of the struct an entry's pointer points
    // to: the object the harness owns starts with them at stubs of its own.
    void member_callbacks(QualType record, Param& prm) {
        const RecordDecl* rd = record->getAs<RecordType>()->getDecl()->getDefinition();
        if (!rd) return;
        for (const FieldDecl* fd : rd->fields()) {
            const QualType ft = fd->getType();
            if (fd->getName().empty() || !ft->isFunctionPointerType()) continue;
            const auto* fp = ft->getPointeeType()->getAs<FunctionProtoType>();
            if (!fp || fp->isVariadic()) continue;
            auto cb = std::make_shared<Function>();
            cb->name = "kiv_cbf_" + prm.pointee + "_" + fd->getNameAsString();
            for (char& c : cb->name)
                if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
            cb->tu = tu_;
            cb->loc = location(sm_, fd->getLocation());
            std::vector<std::string> names =
                proto_names(fd->getTypeSourceInfo() ? fd->getTypeSourceInfo()->getTypeLoc() : TypeLoc());
            std::vector<std::pair<QualType, std::string>> ps;
            for (unsigned i = 0; i < fp->getNumParams(); ++i)
                ps.push_back({fp->getParamType(i), i < names.size() ? names[i] : ""});
            signature(*cb, fp->getReturnType(), ps, std::vector<Loc>(ps.size(), cb->loc), {}, false, 1);
            prm.member_callbacks.push_back({fd->getNameAsString(), std::move(cb)});
        }
    }

    Param classify(QualType t, const std::string& name, const Loc& loc, TypeLoc tl, const std::string& owner, int depth) {
        Param prm;
        prm.name = name;
        prm.loc = loc;
        prm.decl_type = printed(t.getUnqualifiedType(), ctx_);
        std::string why;
        std::string tok = scalar_token(t, ctx_, why);
        if (!tok.empty()) {
            prm.kind = ParamKind::Scalar;
            prm.leaves.push_back({"", tok, enumerators_of(t)});
        } else if (t->isFunctionPointerType() && depth == 0) {
            const auto* fp = t->getPointeeType()->getAs<FunctionProtoType>();
            if (!fp) {
                prm.why = "a function pointer without a prototype";
                return prm;
            }
            auto cb = std::make_shared<Function>();
            cb->name = "kiv_cb_" + owner + "_" + name;
            cb->tu = tu_;
            cb->loc = loc;
            cb->variadic = fp->isVariadic();
            std::vector<std::string> names = proto_names(tl);
            std::vector<std::pair<QualType, std::string>> ps;
            for (unsigned i = 0; i < fp->getNumParams(); ++i)
                ps.push_back({fp->getParamType(i), i < names.size() ? names[i] : ""});
            signature(*cb, fp->getReturnType(), ps, std::vector<Loc>(ps.size(), loc), {}, cb->variadic, depth + 1);
            if (cb->variadic) {
                prm.why = "a function pointer with variable arguments";
                return prm;
            }
            prm.kind = ParamKind::Callback;
            prm.callback = std::move(cb);
        } else if (t->isPointerType() && !t->isFunctionPointerType()) {
            QualType pt = t->getPointeeType();
            prm.pointee_const = pt.isConstQualified();
            prm.pointee = printed(pt.getUnqualifiedType(), ctx_);
            std::string w2;
            std::string ptok = scalar_token(pt, ctx_, w2);
            if (!ptok.empty()) {
                prm.kind = ParamKind::PointerToScalar;
                prm.leaves.push_back({"", ptok, enumerators_of(pt)});
                prm.element = ptok;
            } else if (pt->isStructureType() && collect_leaves(pt, ctx_, "", prm.leaves, w2, 0, &prm.skipped)) {
                prm.kind = ParamKind::PointerToStruct;
                if (depth == 0) member_callbacks(pt, prm);
            } else {
                prm.leaves.clear();
                if (pt->isVoidType()) prm.element = "uint8_t";  // a buffer of bytes, given a length
                prm.why = "a pointer to " + (pt->isVoidType() ? std::string("void") : w2);
            }
        } else if (t->isStructureType() && collect_leaves(t, ctx_, "", prm.leaves, why, 0, &prm.skipped)) {
            prm.kind = ParamKind::Struct;
        } else {
            prm.leaves.clear();
            prm.why = why;
        }
        return prm;
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
        g.skipped.clear();
        if (!collect_leaves(vd->getType(), ctx_, "", g.leaves, g.why, 0, &g.skipped)) g.leaves.clear();
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
