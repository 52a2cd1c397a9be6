// MC/DC analysis, pure: a decision's expression over its conditions, the
// vectors its evaluations left, and per condition the pair that shows it
// decides the outcome on its own, or the vector that would complete one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::mcdc {

// One evaluation of a decision: per condition in evaluation order 'T', 'F'
// or '-' (not evaluated: short-circuited), and the outcome.
struct Vector {
    std::string values;
    bool outcome = false;
    bool operator==(const Vector&) const = default;
    auto operator<=>(const Vector&) const = default;
};

// A decision's formula: tokens cN && || ! ( ), each condition exactly once
// (one probe record per condition). "c" alone is a decision without
// conditions of its own, read as c0: the decision is its one condition.
class Expression {
public:
    // Throws Error saying what is wrong with text for n conditions.
    Expression(const std::string& text, std::size_t conditions);
    std::size_t conditions() const { return n_; }
    // Evaluates with C's short circuit; bit i of assignment is condition i.
    Vector evaluate(uint32_t assignment) const;

private:
    struct Node {
        enum Op { cond, neg, all, any } op;
        int a = -1, b = -1;  // children, or the condition index in a
    };
    int parse_or();
    int parse_and();
    int parse_unary();
    bool eval(int node, uint32_t assignment, std::string& values) const;

    std::vector<Node> nodes_;
    int root_ = -1;
    std::size_t n_;
    std::string text_;
    std::size_t at_ = 0;  // parse position
};

// Masking form: a and b show condition i when i was evaluated in both with
// different values, the outcomes differ, and every other condition is equal
// in both or was not evaluated in one of them (a short circuit hid it).
bool shows(const Vector& a, const Vector& b, std::size_t i);

struct ConditionVerdict {
    bool shown = false;
    std::size_t first = 0, second = 0;  // shown: indices into the seen vectors
    // Not shown: what would complete a pair. One vector that pairs with seen
    // vector `partner`; two when no seen vector can be part of a pair; none
    // when the expression allows no pair at all.
    std::vector<Vector> missing;
    std::size_t partner = SIZE_MAX;
};

// seen: distinct vectors in the order they were first seen; a pair is the
// earliest one by that order. Vectors must come from this expression.
std::vector<ConditionVerdict> analyse(const Expression& e, const std::vector<Vector>& seen);

}  // namespace kiv::mcdc
