// The behaviour prover's analysis. The invariant G over the unit's file-scope
// objects starts as the load state and grows by what one step of any scope
// function makes of it, until a step adds nothing (widened to the program's
// constants, then to the type's range, so that it ends). A last pass over G
// notes, at every probe, which flags its observed values can raise. Any
// value this cannot follow is the whole range of its type; a construct it
// cannot follow ends the proof. G is kept in parts, one per value of the
// unit's mode variables (objects of enumeration type), and so is the state
// within a step: what holds in one mode (a count never 0 while reversing)
// is not lost to what holds in another.
#include "prove.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>
#include <tuple>
#include <map>
#include <set>
#include <stdexcept>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>
#include <clang/AST/Stmt.h>
#include <clang/Basic/SourceManager.h>
#include <llvm/ADT/SmallVector.h>

#include "state.h"
#include "value.h"

namespace kivinst::prove {
namespace {

using namespace clang;

struct Stop : std::runtime_error {  // the proof ends: the message says where and why
    using std::runtime_error::runtime_error;
};

struct Facts {
    bool seen = false, can_true = false, can_false = false, below = false, equal = false, above = false;
    bool below_min = false, above_max = false, zero = false;
    Val left, right, value;  // the values observed, for the reasons
};

const __int128 kHuge = static_cast<__int128>(1) << 100;
// Rounds of steps before the invariant's intervals are widened to the
// program's constants, before its small sets are too, and before a bound
// still growing goes to its type's range.
const unsigned kWidening = 12, kSetWidening = 16, kHardWidening = 28;

class Analyser {
public:
    Analyser(ASTContext& ctx, const Options& options, const std::map<std::size_t, Probe>& probes)
        : ctx_(ctx), options_(options),
          deadline_(std::clock() + static_cast<std::clock_t>(options.seconds * CLOCKS_PER_SEC)) {
        for (const auto& [index, p] : probes) probes_[p.node].push_back(index), kinds_[index] = p;
    }

    Report run();

private:
    // ---- types and values ----
    unsigned width(QualType t) const { return static_cast<unsigned>(ctx_.getTypeSize(t)); }
    bool integral(QualType t) const {
        t = t.getCanonicalType();
        return (t->isIntegerType() || t->isEnumeralType()) && width(t) <= 64;
    }
    Val top(QualType t) const {
        t = t.getCanonicalType();
        if (!integral(t)) return Val::range(-kHuge, kHuge);
        if (t->isBooleanType()) return Val::range(0, 1);
        const unsigned w = width(t);
        if (t->isUnsignedIntegerOrEnumerationType()) return Val::range(0, (static_cast<__int128>(1) << w) - 1);
        return Val::range(-(static_cast<__int128>(1) << (w - 1)), (static_cast<__int128>(1) << (w - 1)) - 1);
    }
    // C's conversion to t: kept when it fits, wrapped value by value when
    // they are few, else any value of t.
    Val convert(const Val& v, QualType t) const {
        if (v.empty()) return v;
        t = t.getCanonicalType();
        if (!integral(t)) return top(t);
        if (t->isBooleanType()) return Val::boolean(v.may(0), v.may_nonzero());
        const Val whole = top(t);
        if (v.within(whole.lo(), whole.hi())) return v;
        if (!v.exact()) return whole;
        const __int128 m = whole.hi() - whole.lo() + 1;
        Val out;
        for (__int128 x : v.values()) {
            __int128 y = ((x - whole.lo()) % m + m) % m + whole.lo();
            out = out.join(Val::of(y));
        }
        return out;
    }

    Val arith(BinaryOperatorKind op, const Val& l, const Val& r, QualType t) const {
        if (l.empty() || r.empty()) return Val::none();
        if (!integral(t)) return top(t);
        if (l.exact() && r.exact() && l.values().size() * r.values().size() <= 600) {
            Val out;
            for (__int128 a : l.values())
                for (__int128 b : r.values()) {
                    const auto x = exact(op, a, b);
                    if (!x) return top(t);
                    if (x->first) out = out.join(Val::of(x->second));
                }
            return convert(out, t);
        }
        Val out = top(t);
        const __int128 a = l.lo(), b = l.hi(), c = r.lo(), d = r.hi();
        switch (op) {
        case BO_Add: out = Val::range(a + c, b + d); break;
        case BO_Sub: out = Val::range(a - d, b - c); break;
        case BO_Mul:
            if (a > -kHuge && b < kHuge && c > -kHuge && d < kHuge && a >= -(1LL << 40) && b <= (1LL << 40) &&
                c >= -(1LL << 40) && d <= (1LL << 40))
                out = Val::range(std::min({a * c, a * d, b * c, b * d}), std::max({a * c, a * d, b * c, b * d}));
            break;
        case BO_Div:
            if (c > 0 || d < 0)
                out = Val::range(std::min({a / c, a / d, b / c, b / d}), std::max({a / c, a / d, b / c, b / d}));
            break;
        case BO_Rem:
            if (a >= 0 && c > 0) out = Val::range(0, std::min(b, d - 1));
            break;
        case BO_And:
            if (a >= 0 && c >= 0) out = Val::range(0, std::min(b, d));
            else if (a >= 0) out = Val::range(0, b);
            else if (c >= 0) out = Val::range(0, d);
            break;
        case BO_Or:
        case BO_Xor:
            if (a >= 0 && c >= 0) {
                __int128 p = 1;
                while (p <= std::max(b, d)) p <<= 1;
                out = Val::range(0, p - 1);
            }
            break;
        case BO_Shr:
            if (a >= 0 && c >= 0 && d < 64) out = Val::range(a >> d, b >> c);
            break;
        default: break;
        }
        return out.within(-kHuge, kHuge) ? convert(out, t) : top(t);
    }
    // One operation on two values; first false where C leaves it undefined
    // (division by zero): no value comes of it.
    static std::optional<std::pair<bool, __int128>> exact(BinaryOperatorKind op, __int128 a, __int128 b) {
        switch (op) {
        case BO_Add: return std::pair{true, a + b};
        case BO_Sub: return std::pair{true, a - b};
        case BO_Mul: {  // operands of up to 64 bits; a wider product is not needed
            const __int128 big = static_cast<__int128>(1) << 62;
            if (a <= -big || a >= big || b <= -big || b >= big) return std::nullopt;
            return std::pair{true, a * b};
        }
        case BO_Div: return b == 0 ? std::pair{false, __int128(0)} : std::pair{true, a / b};
        case BO_Rem: return b == 0 ? std::pair{false, __int128(0)} : std::pair{true, a % b};
        case BO_And: return std::pair{true, a & b};
        case BO_Or: return std::pair{true, a | b};
        case BO_Xor: return std::pair{true, a ^ b};
        case BO_Shl:
            if (a < 0 || a >= (static_cast<__int128>(1) << 64) || b < 0 || b >= 64) return std::nullopt;
            return std::pair{true, a << b};
        case BO_Shr: return b < 0 || b >= 64 ? std::nullopt : std::optional{std::pair{true, a >> b}};
        default: return std::nullopt;
        }
    }

    // Whether a relation can hold and can fail for some pair of values.
    static std::pair<bool, bool> truth(BinaryOperatorKind op, const Val& l, const Val& r) {
        if (l.empty() || r.empty()) return {false, false};
        if (l.exact() && r.exact()) {
            bool t = false, f = false;
            for (__int128 a : l.values())
                for (__int128 b : r.values()) (holds(op, a, b) ? t : f) = true;
            return {t, f};
        }
        const bool overlap = l.lo() <= r.hi() && r.lo() <= l.hi();
        const bool one = l.lo() == l.hi() && r.lo() == r.hi() && l.lo() == r.lo();
        switch (op) {
        case BO_EQ: return {overlap, !one};
        case BO_NE: return {!one, overlap};
        case BO_LT: return {l.lo() < r.hi(), l.hi() >= r.lo()};
        case BO_LE: return {l.lo() <= r.hi(), l.hi() > r.lo()};
        case BO_GT: return {l.hi() > r.lo(), l.lo() <= r.hi()};
        case BO_GE: return {l.hi() >= r.lo(), l.lo() < r.hi()};
        default: return {true, true};
        }
    }
    static bool holds(BinaryOperatorKind op, __int128 a, __int128 b) {
        switch (op) {
        case BO_EQ: return a == b;
        case BO_NE: return a != b;
        case BO_LT: return a < b;
        case BO_LE: return a <= b;
        case BO_GT: return a > b;
        case BO_GE: return a >= b;
        default: return true;
        }
    }

    // ---- cells ----
    std::optional<Cell> cell_of(const Expr* e) const {
        e = e->IgnoreParens();
        if (const auto* ice = dyn_cast<ImplicitCastExpr>(e); ice && ice->getCastKind() == CK_NoOp)
            return cell_of(ice->getSubExpr());
        // What a volatile object or a bit-field holds is not followed.
        if (e->getType().isVolatileQualified()) return std::nullopt;
        if (const auto* dr = dyn_cast<DeclRefExpr>(e)) {
            const auto* vd = dyn_cast<VarDecl>(dr->getDecl());
            if (!vd) return std::nullopt;
            return Cell{vd->getCanonicalDecl(), {}};
        }
        if (const auto* me = dyn_cast<MemberExpr>(e)) {
            const auto* field = dyn_cast<FieldDecl>(me->getMemberDecl());
            if (me->isArrow() || !field || field->isBitField() || field->getParent()->isUnion()) return std::nullopt;
            auto base = cell_of(me->getBase());
            if (!base) return std::nullopt;
            base->path.push_back(field);
            return base;
        }
        return std::nullopt;
    }
    bool tracked(const Cell& c) const { return cell_type_.count(c) != 0; }
    Val read(const Cell& c, const State& s, QualType t) const {
        Val v;
        for (const Cells& p : s.parts) {
            auto it = p.find(c);
            if (it == p.end()) return top(t);
            v = v.join(it->second);
        }
        return v;
    }
    // Each part's own value of c where it has one, else v.
    static Val own(const Cells& p, const Cell& c, const Val& v) {
        auto it = p.find(c);
        return it != p.end() ? it->second : v;
    }
    // Anything written through a pointer or by code outside the unit may be
    // any object whose address is taken, or any object outside code sees.
    void havoc_escaped(State& s, bool external) {
        for (Cells& p : s.parts)
            for (auto it = p.begin(); it != p.end();) {
                const VarDecl* v = it->first.var;
                const bool hit = v && (escaped_.count(v) || (external && v->hasExternalFormalLinkage() &&
                                                              !options_.unseen.count(v->getNameAsString())));
                it = hit ? p.erase(it) : std::next(it);
            }
        s.normalise();
    }
    // Stores rhs's value into lhs: in each part its own value when rhs is
    // the expression that just gave one (see mark()), else v everywhere.
    void store_result(const Expr* lhs, const Expr* rhs, const Val& v, State& s) {
        if (mark_ != rhs || s.parts.size() < 2 || !cell_of(lhs)) return store(lhs, v, s);
        State out;
        for (const Cells& p : s.parts) {
            State one = State::of(p);
            store(lhs, own(p, kValue, v), one);
            out.join(one);
        }
        s = out;
    }
    void store(const Expr* lhs, const Val& v, State& s) {
        if (auto c = cell_of(lhs)) {
            if (integral(lhs->getType())) {
                for (Cells& p : s.parts) p[*c] = convert(v, lhs->getType());
                s.normalise();
                return;
            }
            // A struct or union copied whole: every cell below it is unknown.
            // A float or a pointer is no cell and holds none.
            for (Cells& p : s.parts)
                for (auto it = p.begin(); it != p.end();) {
                    const bool below = it->first.var == c->var && it->first.path.size() >= c->path.size() &&
                                       std::equal(c->path.begin(), c->path.end(), it->first.path.begin());
                    it = below ? p.erase(it) : std::next(it);
                }
            s.normalise();
            return;
        }
        // An element of an array (never tracked) or an object through a pointer.
        eval_lvalue_parts(lhs, s);
        if (through_pointer(lhs)) havoc_escaped(s, false);
    }
    bool through_pointer(const Expr* e) const {
        e = e->IgnoreParenImpCasts();
        if (const auto* me = dyn_cast<MemberExpr>(e)) return me->isArrow() || through_pointer(me->getBase());
        if (const auto* as = dyn_cast<ArraySubscriptExpr>(e))
            return !as->getBase()->IgnoreParenImpCasts()->getType()->isArrayType() || through_pointer(as->getBase());
        if (isa<DeclRefExpr>(e)) return false;
        return true;
    }
    void eval_lvalue_parts(const Expr* e, State& s) {
        e = e->IgnoreParenImpCasts();
        if (const auto* me = dyn_cast<MemberExpr>(e)) {
            if (me->isArrow()) eval(me->getBase(), s);
            else eval_lvalue_parts(me->getBase(), s);
        } else if (const auto* as = dyn_cast<ArraySubscriptExpr>(e)) {
            eval(as->getIdx(), s);
            if (as->getBase()->IgnoreParenImpCasts()->getType()->isArrayType()) eval_lvalue_parts(as->getBase(), s);
            else eval(as->getBase(), s);
        } else if (const auto* uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_Deref) {
            eval(uo->getSubExpr(), s);
        } else if (!isa<DeclRefExpr>(e)) {
            eval(e, s);
        }
    }

    // ---- facts at probes ----
    Facts* probe(const Expr* e, const char* kind) {
        if (!collecting_) return nullptr;
        auto it = probes_.find(e);
        if (it == probes_.end()) return nullptr;
        for (std::size_t i : it->second)
            if (kinds_.at(i).kind == kind) return &facts_[i];
        return nullptr;
    }
    void note_truth(const Expr* e, bool t, bool f) {
        for (const char* kind : {"DC", "CC"})
            if (Facts* x = probe(e, kind)) x->seen = true, x->can_true |= t, x->can_false |= f;
    }
    void note_value(const Expr* e, const Val& v) {
        if (v.empty()) return;
        note_truth(e, v.may_nonzero(), v.may(0));
        if (Facts* x = probe(e, "DBZ")) x->seen = true, x->zero |= v.may(0), x->value = x->value.join(v);
        if (Facts* x = probe(e, "CAST")) {
            for (std::size_t i : probes_.at(e)) {
                const Probe& p = kinds_.at(i);
                if (p.kind != "CAST" || p.target == 0 || p.target > 64) continue;
                const __int128 lo = p.target_signed ? -(static_cast<__int128>(1) << (p.target - 1)) : 0;
                const __int128 hi = p.target_signed ? (static_cast<__int128>(1) << (p.target - 1)) - 1
                                                    : (static_cast<__int128>(1) << p.target) - 1;
                x->seen = true, x->value = x->value.join(v);
                x->below_min |= v.lo() < lo, x->above_max |= v.hi() > hi;
            }
        }
    }
    void note_relation(const BinaryOperator* bo, const Val& l, const Val& r) {
        Facts* x = probe(bo, "RELOP");
        if (!x || l.empty() || r.empty()) return;
        x->seen = true, x->left = x->left.join(l), x->right = x->right.join(r);
        const auto [t, f] = truth(bo->getOpcode(), l, r);
        x->can_true |= t, x->can_false |= f;
        const unsigned bits = width(bo->getLHS()->getType()) > 32 ? 64 : 32;
        const __int128 turn = static_cast<__int128>(1) << bits;
        auto hits = [&](__int128 k) {
            if (l.exact() && r.exact()) {
                for (__int128 a : l.values())
                    for (__int128 b : r.values())
                        if (((a - b - k) % turn) == 0) return true;
                return false;
            }
            for (__int128 y : {k - turn, k, k + turn})
                if (l.lo() - r.hi() <= y && y <= l.hi() - r.lo()) return true;
            return false;
        };
        x->below |= hits(-1), x->equal |= hits(0), x->above |= hits(1);
    }

    // ---- expressions ----
    Val eval(const Expr* e, State& s);
    Val eval_inner(const Expr* e, State& s);
    void mark(const Expr* e, State& s, const Val& v);
    std::pair<State, State> cond(const Expr* e, const State& s);
    State refine(const Expr* e, State s, bool truth);
    // A call; with split, also the states where its bool result is true and
    // where it is false, the caller's own argument objects narrowed as the
    // callee's untouched parameters were.
    Val call(const CallExpr* ce, State& s, std::pair<State, State>* split = nullptr);
    static bool assigns(const Stmt* st, const VarDecl* v);
    void leave(State& s, const FunctionDecl* def, bool returned) const;

    // ---- statements ----
    struct Target {  // of break, and of continue in a loop
        State brk, cont;
        bool loop = false;
    };
    struct Frame {
        Val ret;
        State returned;
        bool split = false;  // a bool function asked for its outcomes apart
        State ret_true, ret_false;
        std::vector<Target> targets;
    };
    void exec(const Stmt* st, State& s);
    void exec_switch(const SwitchStmt* sw, State& s);
    bool split_on(const VarDecl* vd, State& s);
    std::optional<Cell> sole_cell(const Expr* e) const;
    void exec_loop(const Expr* cond, const Stmt* body, const Expr* inc, bool body_first, State& s);
    std::optional<Cell> cell_read(const Expr* x) const;
    State restrict_to(State s, const Expr* x, const Val& keep) const;
    // Widened to the program's constants (sets too: a set that still grows
    // only ends at its limit); hard: straight to the type's range.
    State widen(const State& old, const State& next, bool sets = false, bool hard = false) const;

    void check_time() {
        // Processor time, not wall time: a busy machine gives the same verdicts.
        if (std::clock() > deadline_) throw Stop("the time budget ran out");
    }
    std::string where(SourceLocation loc) const {
        const auto& sm = ctx_.getSourceManager();
        const PresumedLoc p = sm.getPresumedLoc(sm.getFileLoc(loc));
        return p.isValid() ? std::string(p.getFilename()) + ":" + std::to_string(p.getLine()) + ":" +
                                 std::to_string(p.getColumn())
                           : "?";
    }
    [[noreturn]] void stop(const Stmt* at, const std::string& what) const {
        throw Stop(where(at->getBeginLoc()) + ": " + what + (function_ ? " in " + function_->getNameAsString() : ""));
    }

    State load_state();
    static const std::vector<std::string>& flags(const std::string& kind);  // a probe kind's flags
    std::map<std::string, std::string> unraised(std::size_t index, const Facts& f) const;  // flag -> why
    void note_round(unsigned round, Report& rep);
    void bounds(Report& rep) const;
    void collect_cells(const VarDecl* vd, QualType t, llvm::SmallVector<const FieldDecl*, 2> path, const Expr* init, State& s);
    std::string invariant_text(const State& g) const;

    ASTContext& ctx_;
    const Options& options_;
    std::clock_t deadline_;
    std::map<const Expr*, std::vector<std::size_t>> probes_;
    std::map<std::size_t, Probe> kinds_;
    std::map<std::size_t, Facts> facts_;
    std::map<std::size_t, std::map<std::string, unsigned>> first_raised_;  // probe -> flag -> round
    bool collecting_ = false;
    std::map<Cell, QualType> cell_type_;   // the file-scope and static cells
    std::set<const VarDecl*> escaped_;     // their address is taken somewhere
    std::set<const VarDecl*> split_keys_;  // locals whose parts are kept apart (split_on)
    std::set<__int128> thresholds_;        // the program's constants, for widening
    std::vector<Frame> frames_;
    std::set<const FunctionDecl*> active_;
    const FunctionDecl* function_ = nullptr;
    const Expr* mark_ = nullptr;  // the expression whose value each part holds in kValue
};

Val Analyser::eval(const Expr* e, State& s) {
    if (s.dead) return Val::none();
    if (s.parts.size() > 1) {  // part by part; e is marked when every part marked it
        State out;
        Val v;
        bool marked = true;
        for (const Cells& p : s.parts) {
            State one = State::of(p);
            v = v.join(eval(e, one));
            marked = marked && (mark_ == e || one.dead);
            out.join(one);
        }
        s = out;
        mark_ = marked ? e : nullptr;
        return v;
    }
    mark_ = nullptr;
    Val v = eval_inner(e, s);
    note_value(e, v);
    return v;
}

// Marks e as the expression whose value each part of s holds in kValue: v
// in the parts that hold none.
void Analyser::mark(const Expr* e, State& s, const Val& v) {
    const bool own_values = mark_ == e;  // else what kValue holds is some other expression's
    for (Cells& p : s.parts)
        if (own_values) p.emplace(kValue, v);
        else p[kValue] = v;
    s.normalise();
    mark_ = e;
}

Val Analyser::eval_inner(const Expr* e, State& s) {
    const QualType t = e->getType();
    if (const auto* p = dyn_cast<ParenExpr>(e)) {
        const Val v = eval(p->getSubExpr(), s);
        if (mark_ == p->getSubExpr()) mark_ = e;
        return v;
    }
    if (!e->HasSideEffects(ctx_) && integral(t)) {
        Expr::EvalResult r;
        if (e->EvaluateAsInt(r, ctx_)) {
            const llvm::APSInt& x = r.Val.getInt();
            return Val::of(x.isSigned() ? static_cast<__int128>(x.getExtValue()) : static_cast<__int128>(x.getZExtValue()));
        }
    }
    if (isa<DeclRefExpr>(e) || isa<MemberExpr>(e)) {
        if (auto c = cell_of(e)) return read(*c, s, t);
        if (const auto* me = dyn_cast<MemberExpr>(e)) eval(me->getBase(), s);
        return top(t);
    }
    if (const auto* ce = dyn_cast<CastExpr>(e)) {
        const Val v = eval(ce->getSubExpr(), s);
        const bool marked = mark_ == ce->getSubExpr();
        switch (ce->getCastKind()) {
        case CK_LValueToRValue:
        case CK_NoOp:
            if (marked) mark_ = e;
            return v;
        case CK_IntegralCast:
        case CK_IntegralToBoolean:
        case CK_BooleanToSignedIntegral:
            if (marked) {
                for (Cells& p : s.parts) p[kValue] = convert(own(p, kValue, v), t);
                s.normalise();
                mark_ = e;
            }
            return convert(v, t);
        default: return top(t);
        }
    }
    if (const auto* uo = dyn_cast<UnaryOperator>(e)) {
        const Expr* sub = uo->getSubExpr();
        switch (uo->getOpcode()) {
        case UO_PreInc:
        case UO_PostInc:
        case UO_PreDec:
        case UO_PostDec: {
            const Val old = eval(sub, s);
            const bool up = uo->isIncrementOp();
            const Val next = integral(sub->getType())
                                 ? convert(arith(up ? BO_Add : BO_Sub, old, Val::of(1), ctx_.LongLongTy), sub->getType())
                                 : top(sub->getType());
            store(sub, next, s);
            return uo->isPrefix() ? next : old;
        }
        case UO_Minus: return arith(BO_Sub, Val::of(0), eval(sub, s), t);
        case UO_Plus: return eval(sub, s);
        case UO_LNot: {
            const Val v = eval(sub, s);
            return Val::boolean(v.may_nonzero(), v.may(0));
        }
        case UO_Not: {
            const Val v = eval(sub, s);
            if (!v.exact() || !integral(t)) return top(t);
            Val out;
            for (__int128 x : v.values()) out = out.join(Val::of(~x));
            return convert(out, t);
        }
        case UO_AddrOf:
            if (auto c = cell_of(sub)) return top(t);
            eval_lvalue_parts(sub, s);
            return top(t);
        case UO_Deref: eval(sub, s); return top(t);
        default: stop(e, "an operator the prover does not follow");
        }
    }
    if (const auto* bo = dyn_cast<BinaryOperator>(e)) {
        const BinaryOperatorKind op = bo->getOpcode();
        if (bo->isLogicalOp()) {
            auto [tt, ff] = cond(e, s);
            const bool t_ok = !tt.dead, f_ok = !ff.dead;
            tt.join(ff);
            s = tt;
            return Val::boolean(f_ok, t_ok);
        }
        if (op == BO_Comma) {
            eval(bo->getLHS(), s);
            return eval(bo->getRHS(), s);
        }
        if (op == BO_Assign) {
            const Val v = eval(bo->getRHS(), s);
            store_result(bo->getLHS(), bo->getRHS(), v, s);
            return convert(v, bo->getLHS()->getType());
        }
        if (const auto* ca = dyn_cast<CompoundAssignOperator>(bo)) {
            const Val r = eval(bo->getRHS(), s);
            const Val l = eval(bo->getLHS(), s);
            const BinaryOperatorKind plain = BinaryOperator::getOpForCompoundAssignment(op);
            const Val v = convert(arith(plain, convert(l, ca->getComputationLHSType()),
                                        convert(r, ca->getComputationLHSType()), ca->getComputationResultType()),
                                  bo->getLHS()->getType());
            store(bo->getLHS(), v, s);
            return v;
        }
        const Val l = eval(bo->getLHS(), s);
        const Val r = eval(bo->getRHS(), s);
        if (bo->isComparisonOp()) {
            note_relation(bo, l, r);
            const auto [can_t, can_f] = truth(op, l, r);
            return Val::boolean(can_f, can_t);
        }
        return arith(op, l, r, t);
    }
    if (const auto* co = dyn_cast<ConditionalOperator>(e)) {
        auto [tt, ff] = cond(co->getCond(), s);
        const Val a = eval(co->getTrueExpr(), tt);
        if (integral(t)) mark(co->getTrueExpr(), tt, a);  // each branch's parts hold the value it gave
        const Val b = eval(co->getFalseExpr(), ff);
        if (integral(t)) mark(co->getFalseExpr(), ff, b);
        tt.join(ff);
        s = tt;
        if (!integral(t)) return top(t);
        mark_ = e;
        return a.join(b);
    }
    if (const auto* ce = dyn_cast<CallExpr>(e)) return call(ce, s);
    if (isa<FloatingLiteral>(e) || isa<StringLiteral>(e) || isa<UnaryExprOrTypeTraitExpr>(e)) return top(t);
    if (const auto* il = dyn_cast<InitListExpr>(e)) {
        for (const Expr* init : il->inits()) eval(init, s);
        return top(t);
    }
    if (const auto* cl = dyn_cast<CompoundLiteralExpr>(e)) {
        eval(cl->getInitializer(), s);
        return top(t);
    }
    if (const auto* as = dyn_cast<ArraySubscriptExpr>(e)) {
        eval(as->getBase(), s);
        eval(as->getIdx(), s);
        return top(t);
    }
    if (isa<ImplicitValueInitExpr>(e)) return integral(t) ? Val::of(0) : top(t);
    stop(e, std::string("a ") + e->getStmtClassName() + " the prover does not follow");
}

bool Analyser::assigns(const Stmt* st, const VarDecl* v) {
    if (!st) return false;
    auto names = [&](const Expr* e) {
        const auto* dr = dyn_cast<DeclRefExpr>(e->IgnoreParenImpCasts());
        return dr && dr->getDecl()->getCanonicalDecl() == v->getCanonicalDecl();
    };
    if (const auto* bo = dyn_cast<BinaryOperator>(st); bo && bo->isAssignmentOp() && names(bo->getLHS())) return true;
    if (const auto* uo = dyn_cast<UnaryOperator>(st);
        uo && (uo->isIncrementDecrementOp() || uo->getOpcode() == UO_AddrOf) && names(uo->getSubExpr()))
        return true;
    for (const Stmt* child : st->children())
        if (assigns(child, v)) return true;
    return false;
}

Val Analyser::call(const CallExpr* ce, State& s, std::pair<State, State>* split) {
    const FunctionDecl* callee = ce->getDirectCallee();
    if (!callee) stop(ce, "a call through a function pointer");
    std::vector<Val> args;
    for (const Expr* a : ce->arguments()) args.push_back(eval(a, s));
    if (s.dead) return Val::none();
    const FunctionDecl* def = nullptr;
    if (!callee->hasBody(def) || !def) {
        // Outside the unit: a stub or the environment, any result of its
        // type; it may write what it can reach.
        if (callee->getBuiltinID() != 0 && callee->getName().startswith("__builtin_expect")) return args.at(0);
        havoc_escaped(s, true);
        return top(ce->getType());
    }
    if (active_.count(def)) stop(ce, "recursion (" + def->getNameAsString() + " calls itself)");
    active_.insert(def);
    const FunctionDecl* outer = function_;
    function_ = def;
    for (unsigned i = 0; i < def->getNumParams() && i < args.size(); ++i) {
        const ParmVarDecl* p = def->getParamDecl(i);
        const Cell c{cast<VarDecl>(p->getCanonicalDecl()), {}};
        for (Cells& part : s.parts)
            if (integral(p->getType())) part[c] = convert(args[i], p->getType());
            else part.erase(c);
    }
    for (Cells& part : s.parts) part.erase(kReturn);
    s.normalise();
    if (def->isVariadic()) stop(ce, "a variadic function");
    frames_.push_back({});
    frames_.back().split = split != nullptr;
    exec(def->getBody(), s);
    Frame f = std::move(frames_.back());
    frames_.pop_back();
    if (split) {
        *split = {f.ret_true, f.ret_false};
        split->first.join(s), split->second.join(s);  // falling off: any result
        for (unsigned i = 0; i < def->getNumParams() && i < ce->getNumArgs(); ++i) {
            const auto c = cell_read(ce->getArg(i));
            const ParmVarDecl* p = def->getParamDecl(i);
            // Only the caller's own locals: the callee cannot have changed them.
            if (!c || !c->path.empty() || c->var->hasGlobalStorage() || escaped_.count(c->var) || assigns(def->getBody(), p))
                continue;
            const Cell pc{cast<VarDecl>(p->getCanonicalDecl()), {}};
            for (State* out : {&split->first, &split->second}) {
                State narrowed;
                for (const Cells& part : out->parts) {
                    State one = State::of(part);
                    if (auto it = part.find(pc); it != part.end()) one = restrict_to(one, ce->getArg(i), it->second);
                    narrowed.join(one);
                }
                *out = narrowed;
            }
        }
        leave(split->first, def, false), leave(split->second, def, false);
    }
    const bool falls_off = !s.dead;
    leave(s, def, false);
    State after = f.returned;
    leave(after, def, true);
    after.join(s);
    s = after;
    function_ = outer;
    active_.erase(def);
    if (ce->getType()->isVoidType()) return Val::none();
    const Val v = falls_off ? top(ce->getType()) : (integral(ce->getType()) ? f.ret : top(ce->getType()));
    if (integral(ce->getType())) mark_ = ce;  // each returning part holds its own result, the others any
    return v;
}

// s as the caller sees it when def returns: def's parameters and locals
// gone, and each part's returned value (when returned) as the call's value.
void Analyser::leave(State& s, const FunctionDecl* def, bool returned) const {
    for (Cells& p : s.parts) {
        auto r = p.find(kReturn);
        const std::optional<Val> result = returned && r != p.end() ? std::optional<Val>(r->second) : std::nullopt;
        for (auto it = p.begin(); it != p.end();) {
            const VarDecl* v = it->first.var;
            const bool gone = !v ? true : !v->hasGlobalStorage() && v->getDeclContext() == static_cast<const DeclContext*>(def);
            it = gone ? p.erase(it) : std::next(it);
        }
        if (result) p[kValue] = *result;
    }
    s.normalise();
}

// The states where e is true and where it is false; each dead where e
// cannot take that outcome.
std::pair<State, State> Analyser::cond(const Expr* e, const State& in) {
    if (in.parts.size() > 1) {
        std::pair<State, State> out;
        for (const Cells& p : in.parts) {
            auto [t, f] = cond(e, State::of(p));
            out.first.join(t), out.second.join(f);
        }
        return out;
    }
    State s = in;
    std::pair<State, State> out;
    const Expr* bare = e;
    while (const auto* p = dyn_cast<ParenExpr>(bare)) bare = p->getSubExpr();
    const auto* ice = dyn_cast<ImplicitCastExpr>(bare);
    if (ice && (ice->getCastKind() == CK_IntegralToBoolean || ice->getCastKind() == CK_NoOp))
        bare = ice->getSubExpr();
    const auto* bo = dyn_cast<BinaryOperator>(bare);
    const auto* uo = dyn_cast<UnaryOperator>(bare);
    if (s.dead) {
        out = {s, s};
    } else if (bare != e && (isa<ParenExpr>(e) || ice)) {
        out = cond(bare, s);
    } else if (uo && uo->getOpcode() == UO_LNot) {
        auto [t, f] = cond(uo->getSubExpr(), s);
        out = {f, t};
    } else if (bo && bo->getOpcode() == BO_LAnd) {
        auto [t1, f1] = cond(bo->getLHS(), s);
        auto [t2, f2] = cond(bo->getRHS(), t1);
        f1.join(f2);
        out = {t2, f1};
    } else if (bo && bo->getOpcode() == BO_LOr) {
        auto [t1, f1] = cond(bo->getLHS(), s);
        auto [t2, f2] = cond(bo->getRHS(), f1);
        t1.join(t2);
        out = {t1, f2};
    } else if (bo && bo->isComparisonOp()) {
        const Val l = eval(bo->getLHS(), s);
        const Val r = eval(bo->getRHS(), s);
        note_relation(bo, l, r);
        const auto [can_t, can_f] = truth(bo->getOpcode(), l, r);
        State t = can_t ? refine(bo, s, true) : State{};
        State f = can_f ? refine(bo, s, false) : State{};
        out = {t, f};
    } else {
        // A call of a bool function of the unit: its outcomes apart.
        const Expr* inner = bare->IgnoreParens();
        if (const auto* widen = dyn_cast<ImplicitCastExpr>(inner);
            widen && widen->getCastKind() == CK_IntegralCast && widen->getSubExpr()->getType()->isBooleanType())
            inner = widen->getSubExpr()->IgnoreParens();
        const auto* ce = dyn_cast<CallExpr>(inner);
        const FunctionDecl* def = nullptr;
        if (ce && ce->getDirectCallee() && ce->getDirectCallee()->hasBody(def) && def &&
            def->getReturnType()->isBooleanType() && !active_.count(def)) {
            std::pair<State, State> split;
            call(ce, s, &split);
            out = split;
        } else {
            const Val v = eval(e, s);
            State t = v.may_nonzero() ? refine(e, s, true) : State{};
            State f = v.may(0) ? refine(e, s, false) : State{};
            out = {t, f};
        }
    }
    note_truth(e, !out.first.dead, !out.second.dead);
    return out;
}

// The cell x reads, through conversions that keep every value of it.
std::optional<Cell> Analyser::cell_read(const Expr* x) const {
    x = x->IgnoreParens();
    while (const auto* ice = dyn_cast<ImplicitCastExpr>(x)) {
        const Expr* sub = ice->getSubExpr();
        if (ice->getCastKind() == CK_IntegralCast) {
            const Val from = top(sub->getType()), to = top(ice->getType());
            if (!from.within(to.lo(), to.hi())) return std::nullopt;
        } else if (ice->getCastKind() != CK_LValueToRValue && ice->getCastKind() != CK_NoOp) {
            return std::nullopt;
        }
        x = sub->IgnoreParens();
    }
    auto c = cell_of(x);
    if (!c || !integral(x->getType())) return std::nullopt;
    return c;
}

// s where the cell x reads holds one of keep's values.
State Analyser::restrict_to(State s, const Expr* x, const Val& keep) const {
    auto c = cell_read(x);
    if (!c || s.dead) return s;
    if (s.parts.size() > 1) {
        State out;
        for (const Cells& p : s.parts) out.join(restrict_to(State::of(p), x, keep));
        return out;
    }
    const Val v = read(*c, s, x->IgnoreParenImpCasts()->getType());
    Val in;
    if (keep.exact() && v.exact()) {
        for (__int128 y : v.values())
            if (keep.may(y)) in = in.join(Val::of(y));
    } else if (keep.exact()) {
        for (__int128 y : keep.values())
            if (v.may(y)) in = in.join(Val::of(y));
    } else {
        in = v.clamp(keep.lo(), keep.hi());
    }
    if (in.empty()) return State{};
    s.parts.front()[*c] = in;
    return s;
}

// s narrowed by e taking the outcome truth, where e tests one cell against
// values: the rest of s as it is.
State Analyser::refine(const Expr* e, State s, bool truth) {
    if (s.parts.size() > 1) {
        State out;
        for (const Cells& p : s.parts) out.join(refine(e, State::of(p), truth));
        return out;
    }
    auto narrow = [&](const Cell& c, QualType ct, BinaryOperatorKind op, const Val& other) {
        Val v = read(c, s, ct);
        switch (op) {
        case BO_EQ:
            if (other.exact()) {
                Val in;
                for (__int128 x : other.values())
                    if (v.may(x)) in = in.join(Val::of(x));
                v = in;
            } else {
                v = v.clamp(other.lo(), other.hi());
            }
            break;
        case BO_NE:
            if (other.lo() == other.hi()) v = v.without(other.lo());
            break;
        case BO_LT: v = v.clamp(-kHuge, other.hi() - 1); break;
        case BO_LE: v = v.clamp(-kHuge, other.hi()); break;
        case BO_GT: v = v.clamp(other.lo() + 1, kHuge); break;
        case BO_GE: v = v.clamp(other.lo(), kHuge); break;
        default: break;
        }
        if (v.empty()) s.dead = true, s.parts.clear();
        else s.parts.front()[c] = v;
    };
    const auto* bo = dyn_cast<BinaryOperator>(e->IgnoreParens());
    if (bo && bo->isComparisonOp()) {
        BinaryOperatorKind op = bo->getOpcode();
        if (!truth) op = BinaryOperator::negateComparisonOp(op);
        State probe_state = s;
        if (auto c = cell_read(bo->getLHS()); c && !bo->getRHS()->HasSideEffects(ctx_)) {
            const bool was = collecting_;
            collecting_ = false;
            const Val other = eval(bo->getRHS(), probe_state);
            collecting_ = was;
            narrow(*c, bo->getLHS()->IgnoreParenImpCasts()->getType(), op, other);
        }
        probe_state = s;
        if (auto c = cell_read(bo->getRHS()); c && !s.dead && !bo->getLHS()->HasSideEffects(ctx_)) {
            const bool was = collecting_;
            collecting_ = false;
            const Val other = eval(bo->getLHS(), probe_state);
            collecting_ = was;
            narrow(*c, bo->getRHS()->IgnoreParenImpCasts()->getType(), BinaryOperator::reverseComparisonOp(op), other);
        }
        return s;
    }
    if (auto c = cell_read(e)) narrow(*c, e->IgnoreParenImpCasts()->getType(), truth ? BO_NE : BO_EQ, Val::of(0));
    return s;
}

// ---- statements ----

void Analyser::exec(const Stmt* st, State& s) {
    if (!st || s.dead) return;
    check_time();
    if (!isa<CompoundStmt>(st) && s.parts.size() > 1) {  // part by part, their outcomes kept apart
        State out;
        for (const Cells& p : s.parts) {
            State one = State::of(p);
            exec(st, one);
            out.join(one);
        }
        s = out;
        return;
    }
    if (!isa<CompoundStmt>(st)) s.parts.front().erase(kValue);  // a statement's values end with it
    if (const auto* cs = dyn_cast<CompoundStmt>(st)) {
        for (const Stmt* child : cs->body()) exec(child, s);
    } else if (const auto* ds = dyn_cast<DeclStmt>(st)) {
        for (const Decl* d : ds->decls()) {
            const auto* vd = dyn_cast<VarDecl>(d);
            if (!vd || vd->hasGlobalStorage()) continue;  // a static local is set at load
            const Cell c{vd->getCanonicalDecl(), {}};
            if (split_on(vd, s)) continue;
            const Val v = vd->getInit() ? eval(vd->getInit(), s) : top(vd->getType());
            const bool own_values = vd->getInit() && mark_ == vd->getInit();
            for (Cells& p : s.parts)
                if (integral(vd->getType()) && !vd->getType().isVolatileQualified())
                    p[c] = convert(own_values ? own(p, kValue, v) : v, vd->getType());
                else
                    p.erase(c);
            s.normalise();
        }
    } else if (const auto* is = dyn_cast<IfStmt>(st)) {
        if (is->getInit() || is->getConditionVariable()) stop(st, "an if with a declaration");
        auto [t, f] = cond(is->getCond(), s);
        exec(is->getThen(), t);
        exec(is->getElse(), f);
        t.join(f);
        s = t;
    } else if (const auto* sw = dyn_cast<SwitchStmt>(st)) {
        exec_switch(sw, s);
    } else if (const auto* ws = dyn_cast<WhileStmt>(st)) {
        if (ws->getConditionVariable()) stop(st, "a while with a declaration");
        exec_loop(ws->getCond(), ws->getBody(), nullptr, false, s);
    } else if (const auto* dw = dyn_cast<DoStmt>(st)) {
        exec_loop(dw->getCond(), dw->getBody(), nullptr, true, s);
    } else if (const auto* fs = dyn_cast<ForStmt>(st)) {
        if (fs->getConditionVariable()) stop(st, "a for with a declaration in its condition");
        exec(fs->getInit(), s);
        exec_loop(fs->getCond(), fs->getBody(), fs->getInc(), false, s);
    } else if (const auto* rs = dyn_cast<ReturnStmt>(st)) {
        Val x;
        const bool split = frames_.back().split && rs->getRetValue();
        if (split) {  // may call, and grow frames_
            auto [t, f] = cond(rs->getRetValue(), s);
            x = Val::boolean(!f.dead, !t.dead);
            frames_.back().ret_true.join(t), frames_.back().ret_false.join(f);
            for (Cells& p : t.parts) p[kReturn] = Val::of(1);
            for (Cells& p : f.parts) p[kReturn] = Val::of(0);
            s = t;
            s.join(f);
        } else if (const Expr* v = rs->getRetValue()) {
            x = eval(v, s);
            const bool own_values = mark_ == v;
            if (function_ && integral(function_->getReturnType())) {
                for (Cells& p : s.parts)
                    p[kReturn] = convert(own_values ? own(p, kValue, x) : x, function_->getReturnType());
                s.normalise();
            }
        }
        Frame& f = frames_.back();
        if (rs->getRetValue() && !s.dead && function_) f.ret = f.ret.join(convert(x, function_->getReturnType()));
        f.returned.join(s);
        s = State{};
    } else if (isa<BreakStmt>(st) || isa<ContinueStmt>(st)) {
        auto& targets = frames_.back().targets;
        auto it = targets.rbegin();
        if (isa<ContinueStmt>(st))
            while (it != targets.rend() && !it->loop) ++it;
        if (it == targets.rend()) stop(st, "a break or continue outside any loop or switch");
        (isa<BreakStmt>(st) ? it->brk : it->cont).join(s);
        s = State{};
    } else if (const auto* e = dyn_cast<Expr>(st)) {
        eval(e, s);
    } else if (isa<NullStmt>(st)) {
    } else if (isa<GotoStmt>(st) || isa<IndirectGotoStmt>(st) || isa<LabelStmt>(st)) {
        stop(st, "a goto or label");
    } else if (isa<AsmStmt>(st)) {
        stop(st, "inline assembly");
    } else {
        stop(st, std::string("a ") + st->getStmtClassName() + " the prover does not follow");
    }
}

// The one integral cell e reads, when it reads no other object and changes
// nothing.
std::optional<Cell> Analyser::sole_cell(const Expr* e) const {
    if (e->HasSideEffects(ctx_)) return std::nullopt;
    std::set<Cell> cells;
    bool other = false;
    std::function<void(const Stmt*)> walk = [&](const Stmt* st) {
        if (!st || other) return;
        if (const auto* x = dyn_cast<Expr>(st); x && (isa<DeclRefExpr>(x) || isa<MemberExpr>(x))) {
            if (auto c = cell_of(x); c && integral(x->getType())) {
                cells.insert(*c);
                return;
            }
            const auto* dr = dyn_cast<DeclRefExpr>(x);
            if (!dr || isa<VarDecl>(dr->getDecl())) other = true;  // an object that is no cell
            if (dr) return;
        }
        for (const Stmt* child : st->children()) walk(child);
    };
    walk(e);
    if (other || cells.size() != 1) return std::nullopt;
    return *cells.begin();
}

// A local set from one object that holds a few values (`next = count + 1`)
// is declared once per value, in a part of its own: what is later tested of
// the local then narrows the object too. False when it does not apply.
bool Analyser::split_on(const VarDecl* vd, State& s) {
    if (!vd->getInit() || !integral(vd->getType()) || vd->getType().isVolatileQualified() || s.parts.size() != 1)
        return false;
    const auto c = sole_cell(vd->getInit());
    if (!c) return false;
    const auto it = s.parts.front().find(*c);
    if (it == s.parts.front().end() || !it->second.exact() || it->second.values().size() < 2 ||
        it->second.values().size() > 8)
        return false;
    split_keys_.insert(vd->getCanonicalDecl());
    const Cell local{vd->getCanonicalDecl(), {}};
    State out;
    for (__int128 k : it->second.values()) {
        State one = s;
        one.parts.front()[*c] = Val::of(k);
        const Val v = eval(vd->getInit(), one);
        for (Cells& p : one.parts) p[local] = convert(v, vd->getType());
        out.join(one);
    }
    s = out;
    return true;
}

void Analyser::exec_switch(const SwitchStmt* sw, State& s) {
    if (sw->getInit() || sw->getConditionVariable()) stop(sw, "a switch with a declaration");
    const Val v = eval(sw->getCond(), s);
    if (s.dead) return;
    const auto* body = dyn_cast<CompoundStmt>(sw->getBody());
    if (!body) stop(sw, "a switch whose body is no block");
    std::size_t labels = 0, direct = 0;
    std::vector<__int128> values;
    bool has_default = false;
    for (const SwitchCase* sc = sw->getSwitchCaseList(); sc; sc = sc->getNextSwitchCase()) {
        ++labels;
        if (const auto* cs = dyn_cast<CaseStmt>(sc)) {
            if (cs->getRHS()) stop(cs, "a case range");
            values.push_back(cs->getLHS()->EvaluateKnownConstInt(ctx_).getExtValue());
        } else {
            has_default = true;
        }
    }
    for (const Stmt* child : body->body())
        for (const Stmt* x = child; x && isa<SwitchCase>(x); x = cast<SwitchCase>(x)->getSubStmt()) ++direct;
    if (direct != labels) stop(sw, "a case label inside a nested statement");
    const State entry = s;
    const Expr* subject = sw->getCond();
    auto only = [&](bool is_default, __int128 k) {
        Val keep;
        if (!is_default) {
            if (!v.may(k)) return State{};
            keep = Val::of(k);
        } else {
            keep = v;
            for (__int128 x : values) keep = keep.without(x);
            if (keep.empty()) return State{};
        }
        return restrict_to(entry, subject, keep);
    };
    frames_.back().targets.push_back({State{}, State{}, false});
    State cur;
    std::function<void(const Stmt*)> walk = [&](const Stmt* x) {
        if (const auto* cs = dyn_cast<CaseStmt>(x)) {
            cur.join(only(false, cs->getLHS()->EvaluateKnownConstInt(ctx_).getExtValue()));
            return walk(cs->getSubStmt());
        }
        if (const auto* ds = dyn_cast<DefaultStmt>(x)) {
            cur.join(only(true, 0));
            return walk(ds->getSubStmt());
        }
        exec(x, cur);
    };
    for (const Stmt* child : body->body()) walk(child);
    cur.join(frames_.back().targets.back().brk);
    frames_.back().targets.pop_back();
    if (!has_default) cur.join(only(true, 0));
    s = cur;
}

void Analyser::exec_loop(const Expr* c, const Stmt* body, const Expr* inc, bool body_first, State& s) {
    State head = s;
    for (unsigned k = 0;; ++k) {
        check_time();
        State cur = head, exit;
        if (!body_first) {
            auto [t, f] = c ? cond(c, cur) : std::pair<State, State>{cur, State{}};
            cur = t, exit = f;
        }
        frames_.back().targets.push_back({State{}, State{}, true});
        exec(body, cur);
        cur.join(frames_.back().targets.back().cont);
        State brk = frames_.back().targets.back().brk;
        frames_.back().targets.pop_back();
        if (body_first && !cur.dead) {
            auto [t, f] = cond(c, cur);
            exit.join(f);
            cur = t;
        }
        if (inc) eval(inc, cur);
        State next = head;
        next.join(cur);
        if (k >= 4) next = widen(head, next);
        if (next == head) {
            exit.join(brk);
            s = exit;
            return;
        }
        head = next;
    }
}

// Each part of next widened against the part of old with its key.
State Analyser::widen(const State& old, const State& next, bool sets, bool hard) const {
    if (old.dead || next.dead) return next;
    const std::map<State::Key, Cells> before = old.by_key();
    State out;
    for (auto [key, cells] : next.by_key()) {
        auto part = before.find(key);
        if (part == before.end()) {
            out.add(cells);
            continue;
        }
        for (auto it = cells.begin(); it != cells.end();) {
            auto was = part->second.find(it->first);
            if (was == part->second.end() || was->second == it->second || (it->second.exact() && !sets)) {
                ++it;
                continue;
            }
            __int128 lo = it->second.lo(), hi = it->second.hi();
            if (hi > was->second.hi()) {
                auto t = thresholds_.lower_bound(hi);
                hi = t == thresholds_.end() || hard ? kHuge : *t;
            }
            if (lo < was->second.lo()) {
                auto t = thresholds_.upper_bound(lo);
                lo = t == thresholds_.begin() || hard ? -kHuge : *std::prev(t);
            }
            if (lo == -kHuge || hi == kHuge) it = cells.erase(it);
            else it->second = Val::range(lo, hi), ++it;
        }
        out.add(cells);
    }
    out.dead = false;
    return out;
}

// ---- the load state and the steps ----

void Analyser::collect_cells(const VarDecl* vd, QualType t, llvm::SmallVector<const FieldDecl*, 2> path, const Expr* init,
                             State& s) {
    if (t.isVolatileQualified()) return;
    if (const auto* il = dyn_cast_or_null<InitListExpr>(init ? init->IgnoreParenImpCasts() : nullptr);
        il && !t->isStructureType())
        init = il->getNumInits() == 1 ? il->getInit(0) : nullptr;
    if (integral(t)) {
        const Cell c{vd, path};
        cell_type_[c] = t;
        Val v = Val::of(0);  // static storage starts at zero
        if (init) {
            Expr::EvalResult r;
            if (init->EvaluateAsInt(r, ctx_)) {
                const llvm::APSInt& x = r.Val.getInt();
                v = convert(Val::of(x.isSigned() ? static_cast<__int128>(x.getExtValue())
                                                 : static_cast<__int128>(x.getZExtValue())),
                            t);
            } else {
                v = top(t);
            }
        }
        s.parts.front()[c] = v;
        return;
    }
    const auto* rt = t->getAsStructureType();
    if (!rt) return;  // arrays, unions, pointers, floats: not followed, any value
    const auto* il = dyn_cast_or_null<InitListExpr>(init ? init->IgnoreParenImpCasts() : nullptr);
    if (init && !il) return;  // a struct copied from elsewhere
    unsigned i = 0;
    for (const FieldDecl* f : rt->getDecl()->fields()) {
        auto p = path;
        p.push_back(f);
        if (!f->isBitField()) collect_cells(vd, f->getType(), p, il && i < il->getNumInits() ? il->getInit(i) : nullptr, s);
        ++i;
    }
}

State Analyser::load_state() {
    // Objects with static storage, objects whose address is taken, and the
    // program's constants, from every declaration and body of the file.
    std::vector<const VarDecl*> globals;
    auto escape = [&](const Expr* e) {
        e = e->IgnoreParenImpCasts();
        while (true) {
            if (const auto* me = dyn_cast<MemberExpr>(e)) e = me->getBase()->IgnoreParenImpCasts();
            else if (const auto* as = dyn_cast<ArraySubscriptExpr>(e)) e = as->getBase()->IgnoreParenImpCasts();
            else break;
        }
        if (const auto* dr = dyn_cast<DeclRefExpr>(e))
            if (const auto* vd = dyn_cast<VarDecl>(dr->getDecl())) escaped_.insert(vd->getCanonicalDecl());
    };
    std::function<void(const Stmt*)> walk = [&](const Stmt* st) {
        if (!st) return;
        if (const auto* uo = dyn_cast<UnaryOperator>(st); uo && uo->getOpcode() == UO_AddrOf) escape(uo->getSubExpr());
        if (const auto* ice = dyn_cast<ImplicitCastExpr>(st); ice && ice->getCastKind() == CK_ArrayToPointerDecay)
            escape(ice->getSubExpr());
        if (const auto* il = dyn_cast<IntegerLiteral>(st)) {
            const __int128 v = static_cast<__int128>(il->getValue().getZExtValue());
            for (__int128 x : {v - 1, v, v + 1, -v - 1, -v, -v + 1}) thresholds_.insert(x);
        }
        if (const auto* ds = dyn_cast<DeclStmt>(st))
            for (const Decl* d : ds->decls())
                if (const auto* vd = dyn_cast<VarDecl>(d)) {
                    if (vd->hasGlobalStorage()) globals.push_back(vd->getCanonicalDecl());
                    walk(vd->getInit());
                }
        for (const Stmt* child : st->children()) walk(child);
    };
    for (const Decl* d : ctx_.getTranslationUnitDecl()->decls()) {
        if (const auto* vd = dyn_cast<VarDecl>(d)) {
            if (vd->isThisDeclarationADefinition() != VarDecl::DeclarationOnly) globals.push_back(vd->getCanonicalDecl());
            walk(vd->getInit());
        } else if (const auto* fd = dyn_cast<FunctionDecl>(d); fd && fd->doesThisDeclarationHaveABody()) {
            walk(fd->getBody());
        }
    }
    for (unsigned w : {8u, 16u, 32u, 64u}) {
        thresholds_.insert((static_cast<__int128>(1) << w) - 1), thresholds_.insert(static_cast<__int128>(1) << (w - 1));
        thresholds_.insert(-(static_cast<__int128>(1) << (w - 1))), thresholds_.insert((static_cast<__int128>(1) << (w - 1)) - 1);
    }
    State s = State::of({});
    std::sort(globals.begin(), globals.end());
    globals.erase(std::unique(globals.begin(), globals.end()), globals.end());
    for (const VarDecl* vd : globals) {
        const VarDecl* def = vd->getDefinition() ? vd->getDefinition() : vd;
        collect_cells(vd, vd->getType(), {}, def->getInit(), s);
    }
    // Code of other files (an environment's initialisation at load) may have
    // set what it can name before the first step.
    havoc_escaped(s, true);
    return s;
}

// The invariant over all parts, then what each part holds apart from it.
std::string Analyser::invariant_text(const State& g) const {
    if (g.dead) return "no state";
    Cells all = g.parts.front();
    for (const Cells& p : g.parts) all = State::join_cells(all, p);
    auto text = [&](const Cells& p, bool differing) {
        std::map<std::string, std::string> named;  // sorted by name: the same text on every run
        for (const auto& [cell, type] : cell_type_) {
            (void)type;
            auto it = p.find(cell);
            const std::string v = it == p.end() ? "any" : it->second.text();
            if (!differing || (it != p.end() && all.count(cell) && all.at(cell) != it->second) ||
                (it != p.end() && !all.count(cell)))
                named[cell.name()] = v;
        }
        std::string out;
        for (const auto& [name, values] : named) out += (out.empty() ? "" : ", ") + name + " " + values;
        return out;
    };
    std::string out = text(all, false);
    const auto parts = g.by_key();
    if (parts.size() > 1)
        for (const auto& [key, cells] : parts) {
            std::string where;
            for (const auto& [cell, value] : key)
                where += (where.empty() ? "" : " and ") + cell.name() + " " + Val::of(value).text();
            out += "; where " + (where.empty() ? std::string("no mode holds one value") : where) + ": " + text(cells, !where.empty());
        }
    return out;
}

Report Analyser::run() {
    Report rep;
    std::vector<const FunctionDecl*> entries;
    for (const std::string& name : options_.entries) {
        const FunctionDecl* found = nullptr;
        for (const Decl* d : ctx_.getTranslationUnitDecl()->decls())
            if (const auto* fd = dyn_cast<FunctionDecl>(d); fd && fd->getName() == name) found = fd;
        entries.push_back(found);
    }
    // The keys of parts name this analysis's locals while it runs.
    struct Keys {
        explicit Keys(const std::set<const VarDecl*>* k) { State::split_keys = k; }
        ~Keys() { State::split_keys = nullptr; }
    } keys(&split_keys_);
    try {
        State g = load_state();
        auto step = [&](const FunctionDecl* entry, const State& from) {
            State s = from;
            for (Cells& p : s.parts)
                for (auto it = p.begin(); it != p.end();) {
                    const std::string n = it->first.name();
                    bool written = false;
                    for (const std::string& w : options_.written)
                        written = written || n == w || n.rfind(w + ".", 0) == 0;
                    it = written ? p.erase(it) : std::next(it);
                }
            s.normalise();
            const FunctionDecl* def = nullptr;
            if (!entry || !entry->hasBody(def) || !def) {
                havoc_escaped(s, true);  // a scope of another file runs
                return s;
            }
            for (const ParmVarDecl* p : def->parameters())
                for (Cells& part : s.parts) part.erase(Cell{p->getCanonicalDecl(), {}});
            s.normalise();
            function_ = def;
            active_ = {def};
            frames_.assign(1, Frame{});
            exec(def->getBody(), s);
            s.join(frames_.back().returned);
            for (Cells& p : s.parts)
                for (auto it = p.begin(); it != p.end();) it = cell_type_.count(it->first) ? std::next(it) : p.erase(it);
            s.normalise();
            return s;
        };
        // Facts are noted from the first round: a flag no step of the first
        // r rounds raised is not raised within r steps of the load state,
        // whether or not the analysis ends.
        collecting_ = true;
        for (;; ++rep.rounds) {
            check_time();
            State next = g;
            for (const FunctionDecl* e : entries) next.join(step(e, g));
            note_round(rep.rounds, rep);
            if (rep.rounds >= kWidening) next = widen(g, next, rep.rounds >= kSetWidening, rep.rounds >= kHardWidening);
            if (next == g) break;
            g = next;
        }
        for (const FunctionDecl* e : entries) step(e, g);
        rep.invariant = invariant_text(g);
        rep.complete = true;
    } catch (const Stop& s) {
        rep.why_not = s.what();
        bounds(rep);
        return rep;
    }
    for (const auto& [index, f] : facts_) {
        if (!f.seen) continue;
        auto out = unraised(index, f);
        if (!out.empty()) rep.unreachable[index] = std::move(out);
    }
    bounds(rep);
    return rep;
}

const std::vector<std::string>& Analyser::flags(const std::string& kind) {
    static const std::map<std::string, std::vector<std::string>> by_kind{
        {"RELOP", {"trueSeen", "falseSeen", "oneBelow", "equal", "oneAbove"}},
        {"DC", {"trueSeen", "falseSeen"}},
        {"CC", {"trueSeen", "falseSeen"}},
        {"CAST", {"belowMin", "aboveMax"}},
        {"DBZ", {"zeroSeen"}}};
    static const std::vector<std::string> none;
    auto it = by_kind.find(kind);
    return it == by_kind.end() ? none : it->second;
}

std::map<std::string, std::string> Analyser::unraised(std::size_t index, const Facts& f) const {
    std::map<std::string, std::string> out;
    const std::string kind = kinds_.at(index).kind;
    const std::string everywhere = " wherever it runs, on every step";
    if (kind == "RELOP") {
        const std::string given = "left takes " + f.left.text() + " and right " + f.right.text() + everywhere;
        if (!f.can_true) out["trueSeen"] = given + ": never true";
        if (!f.can_false) out["falseSeen"] = given + ": never false";
        if (!f.below) out["oneBelow"] = given + ": never one below";
        if (!f.equal) out["equal"] = given + ": never equal";
        if (!f.above) out["oneAbove"] = given + ": never one above";
    } else if (kind == "DC" || kind == "CC") {
        if (!f.can_true) out["trueSeen"] = "never true" + everywhere;
        if (!f.can_false) out["falseSeen"] = "never false" + everywhere;
    } else if (kind == "CAST") {
        if (!f.below_min) out["belowMin"] = "the value takes " + f.value.text() + everywhere + ": never below the minimum";
        if (!f.above_max) out["aboveMax"] = "the value takes " + f.value.text() + everywhere + ": never above the maximum";
    } else if (kind == "DBZ" && !f.zero) {
        out["zeroSeen"] = "the divisor takes " + f.value.text() + everywhere + ": never 0";
    }
    return out;
}

// The flags round (from 0) raised for the first time: none of them within
// that many steps.
void Analyser::note_round(unsigned round, Report& rep) {
    for (const auto& [index, f] : facts_) {
        if (!f.seen) continue;
        const auto open = unraised(index, f);
        for (const std::string& flag : flags(kinds_.at(index).kind))
            if (!open.count(flag)) first_raised_[index].emplace(flag, round);
    }
    rep.steps = round + 1;
}

// Every flag of an observed probe that is not proven: how many steps from
// the load state no step raised it.
void Analyser::bounds(Report& rep) const {
    for (const auto& [index, f] : facts_) {
        if (!f.seen) continue;  // a probe the analysis does not observe: nothing to say of it
        const auto raised = first_raised_.find(index);
        for (const std::string& flag : flags(kinds_.at(index).kind)) {
            if (auto u = rep.unreachable.find(index); u != rep.unreachable.end() && u->second.count(flag)) continue;
            unsigned n = rep.steps;
            if (raised != first_raised_.end())
                if (auto r = raised->second.find(flag); r != raised->second.end()) n = r->second;
            rep.not_within[index][flag] = n > options_.once ? n - options_.once : 0;
        }
    }
}

}  // namespace

Report analyse(ASTContext& ctx, const Options& options, const std::map<std::size_t, Probe>& probes) {
    if (options.entries.empty()) {
        Report none;
        none.why_not = "no scope functions given";
        return none;
    }
    return Analyser(ctx, options, probes).run();
}

}  // namespace kivinst::prove
