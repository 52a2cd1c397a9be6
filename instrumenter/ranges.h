// kivinst's value ranges: what an integer expression can hold by its type, a
// bit-field's width and the constants around it, and the probe flags those
// values can never raise. Facts of one expression, true on every step and for
// every input, so a goal they rule out is proven unreachable.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace clang {
class ASTContext;
class BinaryOperator;
class Expr;
class QualType;
}  // namespace clang

namespace kivinst {

// Wider than any C integer, so that no bound arithmetic overflows.
struct Range {
    __int128 lo, hi;
};

// Flag name -> why no value can raise it.
using Unreachable = std::map<std::string, std::string>;

class ValueRanges {
public:
    explicit ValueRanges(const clang::ASTContext& ctx) : ctx_(ctx) {}

    Range type_range(clang::QualType t) const;
    // A superset of the values e can take; none for what is not an integer
    // of at most 64 bits.
    std::optional<Range> of(const clang::Expr* e) const;

    // A comparison's flags (falseSeen, trueSeen, oneBelow, equal, oneAbove)
    // that its operands' values cannot raise, as the relational probe sees
    // them: both operands in the comparison's type, the boundary flags from
    // their difference wrapped to 32 or 64 bits. lhs and rhs are the
    // operands' source text, for the reasons.
    Unreachable relation(const clang::BinaryOperator* bo, const std::string& lhs, const std::string& rhs) const;
    // A decision's or condition's outcome (falseSeen, trueSeen) that e's
    // values rule out.
    Unreachable outcome(const clang::Expr* e, const std::string& text) const;
    // A divisor's zeroSeen, when its values exclude 0.
    Unreachable divisor(const clang::Expr* e, const std::string& text) const;

    static bool within(Range inner, Range outer) { return inner.lo >= outer.lo && inner.hi <= outer.hi; }
    static std::string values(Range r);  // "0 to 255", "1"

private:
    std::optional<Range> relation_value(const clang::BinaryOperator* bo) const;
    unsigned width(clang::QualType t) const;
    bool is_unsigned(clang::QualType t) const;

    const clang::ASTContext& ctx_;
};

}  // namespace kivinst
