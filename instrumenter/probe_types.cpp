// Which probe of a family takes a value of a type, the bounds it is given,
// and whether a conversion can lose a value at all.
#include "probe_walk.h"

namespace kivinst {

using namespace clang;

std::string ProbeWalk::int_variant(QualType t) const {
    return std::string(is_unsigned(t) ? "U" : "S") + (width(t) > 32 ? "_LL" : "");
}

std::string ProbeWalk::floating(QualType t) {
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

unsigned ProbeWalk::exact_bits(QualType t) const {
    return llvm::APFloat::semanticsPrecision(ctx_.getFloatTypeSemantics(t));
}

bool ProbeWalk::narrowing(Expr* from_expr, QualType to) {
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

std::string ProbeWalk::int_bounds(QualType to) {
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

std::string ProbeWalk::type_name(QualType t) const {
    PrintingPolicy pp(ctx_.getLangOpts());
    pp.AnonymousTagLocations = false;  // never a path in the output
    return t.getAsString(pp);
}

std::pair<std::string, std::string> ProbeWalk::cast_member(QualType from, QualType to) {
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

}  // namespace kivinst
