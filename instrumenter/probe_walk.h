// The probe walk: one walk over each function body of the main file, in
// source order, numbers the probe records and wraps what each observes. Its
// members are defined by stage: functions and statements (probe_walk.cpp),
// expressions (probe_expressions.cpp), the probe that takes a type
// (probe_types.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>
#include <clang/AST/ParentMap.h>
#include <clang/AST/Stmt.h>

#include "instrument.h"
#include "prove/prove.h"
#include "ranges.h"
#include "source_edits.h"

namespace kivinst {

// Numbers out.records in source order and writes the instrumented main file
// to out.source; conditionals are the main file's conditional directives by
// offset (configuration.h). Returns what each probe observes, by record
// index: the behaviour prover's input.
std::map<std::size_t, prove::Probe> walk_probes(clang::ASTContext& ctx, const Options& options, Output& out,
                                                 const std::map<unsigned, char>& conditionals);

class ProbeWalk {
public:
    ProbeWalk(clang::ASTContext& ctx, const Options& options, Output& out, const std::map<unsigned, char>& conditionals);
    void run();
    const std::map<std::size_t, prove::Probe>& probes() const { return probes_; }

private:
    using SourceLocation = clang::SourceLocation;
    using QualType = clang::QualType;
    using Expr = clang::Expr;
    using Stmt = clang::Stmt;

    // Statement markers open before any expression wrapped at their offset.
    static constexpr int kBranchDepth = -20;
    static constexpr int kMarkerDepth = -10;

    // Records and their numbering.
    std::string allocate(const std::string& kind, const std::string& text, SourceLocation at, int& number);
    // The record's construct as written: a macro argument where it is written,
    // anything else from a macro at the macro's invocation.
    void place(Record& r, SourceLocation at);
    std::string probe(const std::string& macro, const std::string& kind, const std::string& text, SourceLocation at);
    Record& last() { return out_.records.back(); }

    // Constructs left alone, and the warnings that say so.
    // Said once per macro use, per #include and per directive: why a
    // construct could not be wrapped.
    void refuse(const Span& s, SourceLocation loc, const std::string& what);
    // Within one macro invocation from its first token to its last: nothing
    // inside can be edited, so it is observed, at most, as a whole.
    bool from_macro(const Stmt* s) const;
    // Whether a subtree holds something kivinst would observe.
    static bool observable(const Stmt* s);
    // Once per macro invocation, where the user wrote it.
    void macro_left_alone(const Stmt* s);
    void warn(SourceLocation loc, const std::string& what);

    // Types (probe_types.cpp, with the conversions below).
    unsigned width(QualType t) const { return static_cast<unsigned>(ctx_.getTypeSize(t)); }
    bool is_unsigned(QualType t) const { return t.getCanonicalType()->isUnsignedIntegerOrEnumerationType(); }
    // "U", "S", "U_LL" or "S_LL" for an integer type.
    std::string int_variant(QualType t) const;

    // Expression shapes (probe_expressions.cpp).
    static bool is_boolean_valued(const Expr* e);
    // The && or || chain under e, looking through parentheses and '!': its
    // leaves are the conditions, the '!'s stay where they are.
    static clang::BinaryOperator* logical_of(Expr* e);
    // The same, unless the chain comes whole from one macro invocation: that
    // is one condition, observed as the invocation the user wrote.
    clang::BinaryOperator* chain_of(Expr* e) const;

    // Functions and statements (probe_walk.cpp).
    void function(clang::FunctionDecl* fd);
    // Adds the lines from `begin` to `end` (where they are written, or the
    // macro invocation's) to the run of the current statement record.
    void cover(SourceLocation begin, SourceLocation end);
    // The lines of a statement that run when the run it stands in reaches it:
    // all of a plain statement; of an if, loop or switch the head up to its
    // closing parenthesis (its bodies are runs of their own).
    void cover_statement(Stmt* s);
    static bool is_control(const Stmt* s);
    // The statements of one block: after an if, switch or loop, the rest of
    // the block is a run of its own with a statement probe of its own.
    void statements(clang::CompoundStmt* cs);
    std::string line_of(SourceLocation loc);
    // A branch or loop body: a block of its own; a single statement is braced
    // so that its probe and it stay one statement.
    void branch(Stmt* s, const std::string& what);
    void branch_run(Stmt* s, const std::string& what);
    // Where a block's probes go: after its opening brace, or after the
    // declarations that open it, so that no statement comes before a
    // declaration (C90, -Wdeclaration-after-statement).
    unsigned block_head(clang::CompoundStmt* cs, unsigned after_brace);
    // The labels stacked on one block (`case A: case B: code`), after the
    // statement `previous` of the same switch body (null: none). Each label's
    // case probe counts only a dispatch to that label: the labels' probes jump
    // past the probes of the labels below them, and where the code before can
    // fall through into the labels, it jumps past them too. The block's
    // statement probe counts every way in.
    void label(clang::SwitchCase* first, const Stmt* previous);
    void statement(Stmt* s);
    // A goto whose label lies in a block that does not enclose the goto
    // enters that block past its statement probe.
    void jump(clang::GotoStmt* gs);

    // Expressions (probe_expressions.cpp).
    // The right-hand side of an assignment or an initializer: a boolean
    // expression there is a decision; any other value may be narrowed.
    void assigned(Expr* e);
    // A value converted to the type of what receives it (assignment,
    // initializer, argument, return value).
    void value(Expr* e, int depth);
    // Outcome probes take 32 or 64 bits of integer; anything else is tested
    // against zero first, which is what C's truth test does.
    // Returns the record's index, or -1 where no probe could be placed.
    long outcome(Expr* e, int depth, const std::string& family, const std::string& kind);
    void decision(Expr* e, int depth);
    // The decision over its conditions c0..cN-1, as the source groups them.
    std::string formula(Expr* e, int& k) const;
    // An operand's value when it is a constant expression: a literal, a
    // macro, an enumerator, a sum of them. The search tries these values and
    // their neighbours in inputs, so a limit named by a macro is met exactly.
    std::optional<int64_t> constant_value(const Expr* e) const;
    // The operands of a chain of && and ||, nested chains flattened: each leaf
    // is one condition, evaluated (and probed) only where C evaluates it.
    // Without leaves, only what each operand holds is probed.
    void conditions(clang::BinaryOperator* bo, int depth, std::vector<long>* leaves);
    // Whether the decision (unless null) and each condition of its chain can
    // be wrapped; says which condition cannot.
    bool measurable(Expr* e, clang::BinaryOperator* chain);
    void relation(clang::BinaryOperator* bo, int depth);
    // Where C leaves the order of two operands open and one of them has side
    // effects the other may see, compilers differ (gcc reads a plain variable
    // after a call beside it, clang reads left to right), and a probe's call
    // would change the order again: such an operation keeps no probe of its
    // own, so that each compiler computes what it computes without probes.
    bool order_matters(const Expr* a, const Expr* b) const;
    // What evaluating an expression may change: local variables whose
    // address is never taken (only an expression naming them sees that), or
    // anything (a call, a store through a pointer). A volatile read counts as
    // a side effect for C, but reading two objects in either order reads the
    // same values.
    struct Effects {
        bool global = false;
        std::set<const clang::VarDecl*> locals;
    };
    void effects(const Stmt* s, Effects& e) const;
    std::string unordered(const std::string& what) const;
    // Whether nothing other does can change e's value: constants, and local
    // variables that other does not name and whose address is never taken.
    bool unaffected(const Expr* e, const Expr* other) const;
    static bool names(const Stmt* s, const clang::VarDecl* vd);
    // The variables of a body whose address is taken (or that decay to one).
    void addressed(const Stmt* s);

    // Conversions.
    // The floating types a probe can take: "F" float, "D" double, "LD" long
    // double; "H" a half type, which converts exactly to double; "" none.
    static std::string floating(QualType t);
    // Bits of an integer that a floating type holds exactly (its significand).
    unsigned exact_bits(QualType t) const;
    Range type_range(QualType t) const { return ranges_.type_range(t); }
    static bool within(Range inner, Range outer) { return ValueRanges::within(inner, outer); }
    std::optional<Range> range_of(const Expr* e) const { return ranges_.of(e); }
    // Narrowing: the target cannot hold every value the source can take. A
    // constant, a 0/1 result, a masked or shifted value that fits, cannot lose
    // anything and is left alone.
    bool narrowing(Expr* from_expr, QualType to);
    // Minimum and maximum of an integer target type as C literals.
    std::string int_bounds(QualType to);
    std::string type_name(QualType t) const;
    // The cast probe for a conversion, and the bounds it is given; an empty
    // name where no probe takes the pair.
    std::pair<std::string, std::string> cast_member(QualType from, QualType to);
    // The probe returns the value in its own type; C converts it to the
    // target where the plain code did, so no cast is written for an implicit
    // conversion (and none names a type the unit may not be able to spell).
    void cast_probe(Expr* sub, QualType to, int depth);

    // A wrapped expression becomes a probe's argument: anything but a primary
    // expression is parenthesised, so a comma operator stays one argument.
    static std::pair<std::string, std::string> parenthesised(const Expr* e);
    void divisor(Expr* lhs, Expr* rhs, int depth);
    // A function defined in a header (static inline, typically) runs in the
    // unit but only the main file is rewritten: said once, where it is.
    void header_function(const clang::FunctionDecl* callee);
    void call(clang::CallExpr* ce, int depth, bool arguments = true);
    void expr(Expr* e, int depth);

    // The last record observes node; the flags its type and constants rule out.
    void observed(const Expr* node, Unreachable flags, unsigned target_bits = 0, bool target_signed = false);

    clang::ASTContext& ctx_;
    std::map<std::size_t, prove::Probe> probes_;
    ValueRanges ranges_;
    clang::SourceManager& sm_;
    int unit_;
    std::string root_;
    Output& out_;
    std::map<clang::FileID, std::string> files_;
    std::set<unsigned> macros_warned_;
    std::set<const clang::FunctionDecl*> headers_warned_;
    unsigned warn_ = 0;
    std::map<std::string, int> counters_;
    std::string function_;
    long stm_ = -1;  // the statement record whose run the statement being walked belongs to
    std::unique_ptr<clang::ParentMap> parents_;
    std::set<const clang::VarDecl*> addressed_;  // in the function being instrumented
    SourceEdits edits_;
};

}  // namespace kivinst
