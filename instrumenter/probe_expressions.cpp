// The probe walk over expressions: decisions and their conditions,
// comparisons, divisors, calls and narrowing conversions.
#include "probe_walk.h"

#include <clang/Basic/Builtins.h>
#include <clang/Basic/SourceManager.h>
#include <clang/Lex/Lexer.h>

#include <tuple>

namespace kivinst {

using namespace clang;

bool ProbeWalk::is_boolean_valued(const Expr* e) {
    e = e->IgnoreParenImpCasts();
    if (const auto* bo = dyn_cast<BinaryOperator>(e)) return bo->isComparisonOp() || bo->isLogicalOp();
    if (const auto* uo = dyn_cast<UnaryOperator>(e)) return uo->getOpcode() == UO_LNot;
    return false;
}

BinaryOperator* ProbeWalk::logical_of(Expr* e) {
    e = e->IgnoreParenImpCasts();
    while (auto* uo = dyn_cast<UnaryOperator>(e)) {
        if (uo->getOpcode() != UO_LNot) return nullptr;
        e = uo->getSubExpr()->IgnoreParenImpCasts();
    }
    auto* bo = dyn_cast<BinaryOperator>(e);
    return bo && bo->isLogicalOp() ? bo : nullptr;
}

void ProbeWalk::assigned(Expr* e) {
    if (is_boolean_valued(e))
        decision(e, 0);
    else
        value(e, 0);
}

void ProbeWalk::value(Expr* e, int depth) {
    auto* ice = dyn_cast<ImplicitCastExpr>(e);
    if (ice && narrowing(ice->getSubExpr(), ice->getType()))
        return cast_probe(ice->getSubExpr(), ice->getType(), depth);
    expr(e, depth);
}

long ProbeWalk::outcome(Expr* e, int depth, const std::string& family, const std::string& kind) {
    Span sp = edits_.span(e->getSourceRange());
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
    const std::string text = edits_.text(sp);
    edits_.wrap(sp, depth, constant_open + probe("IXA_" + kind + "_" + variant, kind, text, e->getBeginLoc()) + ", " + open_extra, close);
    observed(e, ranges_.outcome(e, text));
    return static_cast<long>(out_.records.size()) - 1;
}

BinaryOperator* ProbeWalk::chain_of(Expr* e) const {
    BinaryOperator* bo = logical_of(e);
    return bo && !from_macro(bo) ? bo : nullptr;
}

bool ProbeWalk::measurable(Expr* e, BinaryOperator* chain) {
    if (e && !edits_.span(e->getSourceRange()).ok) return false;  // the decision's own probe says why
    for (Expr* side : {chain->getLHS(), chain->getRHS()}) {
        if (BinaryOperator* inner = chain_of(side)) {
            if (!measurable(nullptr, inner)) return false;
            continue;
        }
        const Span sp = edits_.span(side->getSourceRange());
        if (!sp.ok) {
            refuse(sp, side->getBeginLoc(), "a condition");
            return false;
        }
    }
    return true;
}

void ProbeWalk::decision(Expr* e, int depth) {
    std::vector<long> leaves;
    BinaryOperator* chain = from_macro(e) ? nullptr : chain_of(e);
    if (from_macro(e))
        macro_left_alone(e);  // observed as a whole, if at all
    else if (chain)
        // Conditions are probed only where their decision is: a condition
        // record without its decision record names a formula nobody wrote.
        conditions(chain, depth + 1, measurable(e, chain) ? &leaves : nullptr);
    else
        expr(e, depth + 1);
    const long dc = outcome(e, depth, "decision", "DC");
    if (dc < 0) return;
    Record& r = out_.records[static_cast<std::size_t>(dc)];
    for (long cc : leaves) {
        out_.records[static_cast<std::size_t>(cc)].decision = r.name;
        r.conditions.push_back(out_.records[static_cast<std::size_t>(cc)].name);
    }
    int k = 0;
    r.expression = r.conditions.empty() ? "c" : formula(e, k);
}

std::string ProbeWalk::formula(Expr* e, int& k) const {
    e = e->IgnoreImpCasts();
    if (!chain_of(e)) return "c" + std::to_string(k++);
    if (auto* p = dyn_cast<ParenExpr>(e)) return "(" + formula(p->getSubExpr(), k) + ")";
    if (auto* u = dyn_cast<UnaryOperator>(e)) return "!" + formula(u->getSubExpr(), k);
    auto* bo = cast<BinaryOperator>(e);
    std::string left = formula(bo->getLHS(), k);
    return left + (bo->getOpcode() == BO_LAnd ? " && " : " || ") + formula(bo->getRHS(), k);
}

std::optional<int64_t> ProbeWalk::constant_value(const Expr* e) const {
    Expr::EvalResult v;
    if (e->isValueDependent() || !e->EvaluateAsInt(v, ctx_)) return std::nullopt;
    const llvm::APSInt& i = v.Val.getInt();
    if (i.isSigned() ? i.getMinSignedBits() > 64 : i.getActiveBits() > 63) return std::nullopt;
    return i.getExtValue();
}

void ProbeWalk::conditions(BinaryOperator* bo, int depth, std::vector<long>* leaves) {
    for (Expr* side : {bo->getLHS(), bo->getRHS()}) {
        if (BinaryOperator* chain = chain_of(side)) {
            conditions(chain, depth, leaves);
            continue;
        }
        expr(side, depth + 1);
        if (leaves) leaves->push_back(outcome(side, depth, "condition", "CC"));
    }
}

void ProbeWalk::relation(BinaryOperator* bo, int depth) {
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
    Span whole = edits_.span(bo->getSourceRange());
    Span lhs = edits_.span(bo->getLHS()->getSourceRange());
    Span rhs = edits_.span(bo->getRHS()->getSourceRange());
    const SourceLocation op = bo->getOperatorLoc();
    if (!whole.ok || !lhs.ok || !rhs.ok || op.isMacroID())
        return refuse(whole.directive ? whole : lhs.directive ? lhs : rhs.directive ? rhs : whole, op, "a comparison");
    const std::string sig = is_unsigned(t) ? (width(t) > 32 ? "UU_LL" : "UU") : (width(t) > 32 ? "SS_LL" : "SS");
    edits_.wrap(whole, depth, probe(std::string("IXA_") + ops.at(bo->getOpcode()) + "_" + sig, "RELOP", edits_.text(whole), bo->getBeginLoc()) + ", ", ")");
    observed(bo, ranges_.relation(bo, edits_.text(lhs), edits_.text(rhs)));
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
    edits_.replace(at, length, depth, comma);
}

bool ProbeWalk::order_matters(const Expr* a, const Expr* b) const {
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

void ProbeWalk::effects(const Stmt* s, Effects& e) const {
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

std::string ProbeWalk::unordered(const std::string& what) const {
    return "the operands of this " + what + " may be evaluated in either order and one has side effects the other "
           "may see: no probe, so that each compiler computes what it computes without probes (to measure it, "
           "compute an operand into a variable first)";
}

bool ProbeWalk::unaffected(const Expr* e, const Expr* other) const {
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

bool ProbeWalk::names(const Stmt* s, const VarDecl* vd) {
    if (!s) return false;
    if (const auto* dr = dyn_cast<DeclRefExpr>(s); dr && dr->getDecl() == vd) return true;
    for (const Stmt* child : s->children())
        if (names(child, vd)) return true;
    return false;
}

void ProbeWalk::addressed(const Stmt* s) {
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

void ProbeWalk::cast_probe(Expr* sub, QualType to, int depth) {
    expr(sub, depth + 1);
    Span sp = edits_.span(sub->getSourceRange());
    if (!sp.ok) return refuse(sp, sub->getBeginLoc(), "a conversion");
    const auto [macro, bounds] = cast_member(sub->getType(), to);
    if (macro.empty())
        return warn(sub->getBeginLoc(), "no cast probe for a conversion from '" + type_name(sub->getType()) +
                                            "' to '" + type_name(to) + "'");
    const auto [open, close] = parenthesised(sub);
    edits_.wrap(sp, depth,
         probe(macro, "CAST", edits_.text(sp) + " to " + type_name(to), sub->getBeginLoc()) + ", " + open,
         close + ", " + bounds + ")");
    // A bound the value never crosses: its goal is one no input reaches.
    const QualType target = to.getCanonicalType();
    if (!target->isIntegerType() || !sub->getType()->isIntegerType()) return;
    observed(sub, {}, width(target), !is_unsigned(target));
    const auto r = range_of(sub);
    if (!r) return;
    const Range t = type_range(target);
    auto text = [](__int128 n) { return std::to_string(static_cast<long long>(n)); };
    const std::string values = edits_.text(sp) + " takes values " + text(r->lo) + " to " +
                               (r->hi > static_cast<__int128>(INT64_MAX) ? std::string("2^64 - 1") : text(r->hi));
    if (r->lo >= t.lo) last().unreachable["belowMin"] = values + ", never below " + text(t.lo);
    if (r->hi <= t.hi) last().unreachable["aboveMax"] = values + ", never above " + text(t.hi);
}

std::pair<std::string, std::string> ProbeWalk::parenthesised(const Expr* e) {
    e = e->IgnoreImpCasts();
    if (isa<ParenExpr>(e) || isa<DeclRefExpr>(e) || isa<IntegerLiteral>(e) || isa<FloatingLiteral>(e) ||
        isa<CharacterLiteral>(e) || isa<CallExpr>(e) || isa<MemberExpr>(e) || isa<ArraySubscriptExpr>(e))
        return {"", ""};
    return {"(", ")"};
}

void ProbeWalk::divisor(Expr* lhs, Expr* rhs, int depth) {
    if (rhs->isValueDependent() || rhs->isEvaluatable(ctx_)) return;
    Span sp = edits_.span(rhs->getSourceRange());
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
    edits_.wrap(sp, depth, cast_back + probe("IXA_DBZ_" + variant, "DBZ", edits_.text(sp), rhs->getBeginLoc()) + ", " + open,
         close + ")");
    observed(rhs, ranges_.divisor(rhs, edits_.text(sp)));
}

void ProbeWalk::header_function(const FunctionDecl* callee) {
    const FunctionDecl* def = nullptr;
    if (!callee || !callee->hasBody(def) || !def) return;
    const SourceLocation at = sm_.getExpansionLoc(def->getLocation());
    if (sm_.isWrittenInMainFile(at) || sm_.isInSystemHeader(at)) return;
    if (!headers_warned_.insert(def).second) return;
    warn(def->getLocation(), "function '" + def->getNameAsString() +
                                 "' is defined in a header; kivinst instruments the main file only, so its "
                                 "body has no probes (its calls do)");
}

void ProbeWalk::call(CallExpr* ce, int depth, bool arguments) {
    header_function(ce->getDirectCallee());
    Span sp = edits_.span(ce->getSourceRange());
    std::string name;
    if (const FunctionDecl* fd = ce->getDirectCallee())
        name = fd->getNameAsString();
    else {
        Span callee = edits_.span(ce->getCallee()->getSourceRange());
        name = callee.ok ? edits_.text(callee) : "?";
    }
    if (!sp.ok)
        refuse(sp, ce->getBeginLoc(), "a call");
    else
        edits_.wrap(sp, depth, "(" + probe("IXA_DCF", "DCF", "call of " + name, ce->getBeginLoc()) + ", \"" + name + "\"), ", ")");
    if (!arguments) return;
    if (!ce->getDirectCallee()) expr(ce->getCallee(), depth + 1);
    for (Expr* arg : ce->arguments()) value(arg, depth + 1);
}

void ProbeWalk::expr(Expr* e, int depth) {
    if (!e) return;
    if (from_macro(e)) {
        // A call that is a whole invocation is still observed as a call.
        if (auto* ce = dyn_cast<CallExpr>(e)) {
            if (edits_.span(ce->getSourceRange()).ok) {
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

}  // namespace kivinst
