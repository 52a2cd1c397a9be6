// Value ranges of integer expressions and the probe flags they rule out. Every
// range here is a superset of the values the expression can take, whatever
// the unit's state and inputs: where an operation is not understood, or its
// result may wrap, the range is the whole of its type.
#include "ranges.h"

#include <algorithm>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>

namespace kivinst {

using namespace clang;

unsigned ValueRanges::width(QualType t) const { return static_cast<unsigned>(ctx_.getTypeSize(t)); }
bool ValueRanges::is_unsigned(QualType t) const { return t.getCanonicalType()->isUnsignedIntegerOrEnumerationType(); }

// An enumeration's range is its underlying type's, not its enumerators': C
// lets an enum object hold any value of that type, and the harness writes any.
Range ValueRanges::type_range(QualType t) const {
    const unsigned w = width(t);
    if (t->isBooleanType()) return {0, 1};
    if (is_unsigned(t)) return {0, (static_cast<__int128>(1) << w) - 1};
    return {-(static_cast<__int128>(1) << (w - 1)), (static_cast<__int128>(1) << (w - 1)) - 1};
}

std::string ValueRanges::values(Range r) {
    auto text = [](__int128 n) {
        return n > static_cast<__int128>(INT64_MAX) ? std::string("2^64 - 1") : std::to_string(static_cast<long long>(n));
    };
    return r.lo == r.hi ? text(r.lo) : text(r.lo) + " to " + text(r.hi);
}

namespace {

Range boolean(bool can_false, bool can_true) { return {can_false ? 0 : 1, can_true ? 1 : 0}; }

// Whether a relation can hold, and whether it can fail, for some pair of
// operands within l and r.
std::pair<bool, bool> truth(BinaryOperatorKind op, Range l, Range r) {
    const bool overlap = l.lo <= r.hi && r.lo <= l.hi;
    const bool one_pair = l.lo == l.hi && r.lo == r.hi && l.lo == r.lo;
    switch (op) {
    case BO_EQ: return {overlap, !one_pair};
    case BO_NE: return {!one_pair, overlap};
    case BO_LT: return {l.lo < r.hi, l.hi >= r.lo};
    case BO_LE: return {l.lo <= r.hi, l.hi > r.lo};
    case BO_GT: return {l.hi > r.lo, l.lo <= r.hi};
    case BO_GE: return {l.hi >= r.lo, l.lo < r.hi};
    default: return {true, true};
    }
}

}  // namespace

// A comparison, && or || whose outcome the operands' ranges decide.
std::optional<Range> ValueRanges::relation_value(const BinaryOperator* bo) const {
    const auto l = of(bo->getLHS()), r = of(bo->getRHS());
    if (bo->isLogicalOp()) {
        const Range a = l.value_or(Range{0, 1}), b = r.value_or(Range{0, 1});
        const bool a_true = a.lo != 0 || a.hi != 0, a_false = a.lo <= 0 && 0 <= a.hi;
        const bool b_true = b.lo != 0 || b.hi != 0, b_false = b.lo <= 0 && 0 <= b.hi;
        if (bo->getOpcode() == BO_LAnd) return boolean(a_false || b_false, a_true && b_true);
        return boolean(a_false && b_false, a_true || b_true);
    }
    if (!l || !r) return Range{0, 1};
    const auto [can_true, can_false] = truth(bo->getOpcode(), *l, *r);
    return boolean(can_false, can_true);
}

std::optional<Range> ValueRanges::of(const Expr* e) const {
    e = e->IgnoreParens();
    const QualType t = e->getType().getCanonicalType();
    if (!t->isIntegerType() || width(t) > 64 || e->isValueDependent()) return std::nullopt;
    const Range whole = type_range(t);
    Expr::EvalResult v;
    if (e->EvaluateAsInt(v, ctx_)) {
        const llvm::APSInt& x = v.Val.getInt();
        const __int128 n = x.isSigned() ? static_cast<__int128>(x.getExtValue()) : static_cast<__int128>(x.getZExtValue());
        return Range{n, n};
    }
    // What the operation gives, if it fits its type; else it wraps.
    auto fit = [&](std::optional<Range> r) { return r && within(*r, whole) ? *r : whole; };
    if (const auto* me = dyn_cast<MemberExpr>(e)) {
        const auto* field = dyn_cast<FieldDecl>(me->getMemberDecl());
        if (!field || !field->isBitField()) return whole;
        const unsigned bits = field->getBitWidthValue(ctx_);
        if (bits == 0 || bits >= 64) return whole;
        if (is_unsigned(field->getType()) || field->getType()->isBooleanType())
            return fit(Range{0, (static_cast<__int128>(1) << bits) - 1});
        return fit(Range{-(static_cast<__int128>(1) << (bits - 1)), (static_cast<__int128>(1) << (bits - 1)) - 1});
    }
    if (const auto* ce = dyn_cast<CastExpr>(e)) {
        if (ce->getCastKind() == CK_IntegralCast || ce->getCastKind() == CK_LValueToRValue ||
            ce->getCastKind() == CK_NoOp)
            return fit(of(ce->getSubExpr()));
        return whole;
    }
    if (const auto* co = dyn_cast<ConditionalOperator>(e)) {
        const auto a = of(co->getTrueExpr()), b = of(co->getFalseExpr());
        if (!a || !b) return whole;
        return fit(Range{std::min(a->lo, b->lo), std::max(a->hi, b->hi)});
    }
    if (const auto* uo = dyn_cast<UnaryOperator>(e)) {
        if (uo->getOpcode() != UO_LNot) return whole;
        const Range r = of(uo->getSubExpr()).value_or(Range{0, 1});
        return boolean(r.lo != 0 || r.hi != 0, r.lo <= 0 && 0 <= r.hi);
    }
    const auto* bo = dyn_cast<BinaryOperator>(e);
    if (!bo) return whole;
    if (bo->isComparisonOp() || bo->isLogicalOp()) return relation_value(bo);
    // A compound assignment's value is the operation's, not its right side's.
    if (bo->getOpcode() == BO_Assign || bo->getOpcode() == BO_Comma) return fit(of(bo->getRHS()));
    if (bo->isAssignmentOp()) return whole;
    const auto l = of(bo->getLHS()), r = of(bo->getRHS());
    if (!l || !r) return whole;
    switch (bo->getOpcode()) {
    case BO_And:  // a non-negative operand bounds the result
        if (l->lo >= 0 && r->lo >= 0) return fit(Range{0, std::min(l->hi, r->hi)});
        if (l->lo >= 0) return fit(Range{0, l->hi});
        if (r->lo >= 0) return fit(Range{0, r->hi});
        return whole;
    case BO_Or:
    case BO_Xor: {
        if (l->lo < 0 || r->lo < 0) return whole;
        __int128 top = 1;
        while (top <= std::max(l->hi, r->hi)) top <<= 1;
        return fit(Range{bo->getOpcode() == BO_Or ? std::max(l->lo, r->lo) : 0, top - 1});
    }
    case BO_Shr:
        if (l->lo < 0 || r->lo < 0 || r->hi >= 64) return whole;
        return fit(Range{l->lo >> r->hi, l->hi >> r->lo});
    case BO_Rem:
        if (l->lo < 0 || r->lo <= 0) return whole;
        return fit(Range{0, std::min(l->hi, r->hi - 1)});
    case BO_Div:
        if (l->lo < 0 || r->lo <= 0) return whole;
        return fit(Range{l->lo / r->hi, l->hi / r->lo});
    case BO_Add: return fit(Range{l->lo + r->lo, l->hi + r->hi});
    case BO_Sub: return fit(Range{l->lo - r->hi, l->hi - r->lo});
    default: return whole;
    }
}

Unreachable ValueRanges::relation(const BinaryOperator* bo, const std::string& lhs, const std::string& rhs) const {
    const QualType t = bo->getLHS()->getType();
    const auto l = of(bo->getLHS()), r = of(bo->getRHS());
    if (!l || !r || !bo->isComparisonOp()) return {};
    const unsigned bits = width(t) > 32 ? 64 : 32;
    const std::string given = "`" + lhs + "` takes " + values(*l) + " and `" + rhs + "` " + values(*r) + " (compared as " +
                              (is_unsigned(t) ? "unsigned " : "signed ") + std::to_string(bits) + "-bit)";
    Unreachable out;
    const auto [can_true, can_false] = truth(bo->getOpcode(), *l, *r);
    if (!can_true) out["trueSeen"] = given + ": the comparison is never true";
    if (!can_false) out["falseSeen"] = given + ": the comparison is never false";
    // The probe's boundary flags read left - right wrapped to the width; the
    // exact difference lies in d, and wraps by at most one turn.
    const Range d{l->lo - r->hi, l->hi - r->lo};
    const __int128 turn = static_cast<__int128>(1) << bits;
    auto hits = [&](__int128 k) {
        for (__int128 x : {k - turn, k, k + turn})
            if (d.lo <= x && x <= d.hi) return true;
        return false;
    };
    if (!hits(-1)) out["oneBelow"] = given + ": left is never one below right";
    if (!hits(0)) out["equal"] = given + ": left never equals right";
    if (!hits(1)) out["oneAbove"] = given + ": left is never one above right";
    return out;
}

Unreachable ValueRanges::outcome(const Expr* e, const std::string& text) const {
    const auto r = of(e);
    if (!r) return {};
    Unreachable out;
    const std::string given = "`" + text + "` takes " + values(*r);
    if (r->lo == 0 && r->hi == 0) out["trueSeen"] = given + ": never true";
    if (r->lo > 0 || r->hi < 0) out["falseSeen"] = given + ": never false";
    return out;
}

Unreachable ValueRanges::divisor(const Expr* e, const std::string& text) const {
    const auto r = of(e);
    if (!r || (r->lo <= 0 && 0 <= r->hi)) return {};
    return {{"zeroSeen", "`" + text + "` takes " + values(*r) + ": never 0"}};
}

}  // namespace kivinst
