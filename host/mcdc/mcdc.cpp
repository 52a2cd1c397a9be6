// Parsing a decision's formula, evaluating it as C does, and finding pairs.
#include "mcdc/mcdc.h"

#include "error.h"

#include <cctype>

namespace kiv::mcdc {

namespace {
// Completions are found by trying every assignment: 2^16 is still instant.
constexpr std::size_t kMaxConditions = 16;
}  // namespace

Expression::Expression(const std::string& text, std::size_t conditions) : n_(conditions), text_(text) {
    if (n_ == 0 && text == "c") {
        n_ = 1;
        nodes_.push_back({Node::cond, 0});
        root_ = 0;
        return;
    }
    auto fail = [&](const std::string& why) { throw Error("expression '" + text + "': " + why); };
    if (n_ == 0 || n_ > kMaxConditions)
        fail("has " + std::to_string(n_) + " conditions; expected 1 to " + std::to_string(kMaxConditions));
    root_ = parse_or();
    while (at_ < text_.size() && text_[at_] == ' ')
        ++at_;
    if (at_ != text_.size()) fail("unexpected '" + text_.substr(at_) + "'");
    std::vector<int> uses(n_);
    for (const auto& node : nodes_)
        if (node.op == Node::cond) ++uses[static_cast<std::size_t>(node.a)];
    for (std::size_t i = 0; i < n_; ++i)
        if (uses[i] != 1) fail("c" + std::to_string(i) + " appears " + std::to_string(uses[i]) + " times; expected once");
}

namespace {
bool skip_to(const std::string& s, std::size_t& at, const char* token) {
    while (at < s.size() && s[at] == ' ')
        ++at;
    const std::size_t n = std::char_traits<char>::length(token);
    if (s.compare(at, n, token) != 0) return false;
    at += n;
    return true;
}
}  // namespace

int Expression::parse_or() {
    int left = parse_and();
    while (skip_to(text_, at_, "||")) {
        const int right = parse_and();
        nodes_.push_back({Node::any, left, right});
        left = static_cast<int>(nodes_.size()) - 1;
    }
    return left;
}

int Expression::parse_and() {
    int left = parse_unary();
    while (skip_to(text_, at_, "&&")) {
        const int right = parse_unary();
        nodes_.push_back({Node::all, left, right});
        left = static_cast<int>(nodes_.size()) - 1;
    }
    return left;
}

int Expression::parse_unary() {
    auto fail = [&](const std::string& why) { throw Error("expression '" + text_ + "': " + why); };
    if (skip_to(text_, at_, "!")) {
        const int operand = parse_unary();
        nodes_.push_back({Node::neg, operand});
        return static_cast<int>(nodes_.size()) - 1;
    }
    if (skip_to(text_, at_, "(")) {
        const int inner = parse_or();
        if (!skip_to(text_, at_, ")")) fail("a '(' at no matching ')'");
        return inner;
    }
    if (!skip_to(text_, at_, "c")) fail("expected c<N>, '!' or '(' at column " + std::to_string(at_ + 1));
    std::size_t i = 0, digits = 0;
    for (; at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])) && digits < 3; ++at_, ++digits)
        i = i * 10 + static_cast<std::size_t>(text_[at_] - '0');
    if (!digits || i >= n_)
        fail("a condition index at column " + std::to_string(at_) + " outside c0 to c" + std::to_string(n_ - 1));
    nodes_.push_back({Node::cond, static_cast<int>(i)});
    return static_cast<int>(nodes_.size()) - 1;
}

bool Expression::eval(int node, uint32_t assignment, std::string& values) const {
    const Node& n = nodes_[static_cast<std::size_t>(node)];
    switch (n.op) {
        case Node::cond: {
            const bool v = (assignment >> n.a) & 1u;
            values[static_cast<std::size_t>(n.a)] = v ? 'T' : 'F';
            return v;
        }
        case Node::neg: return !eval(n.a, assignment, values);
        case Node::all: return eval(n.a, assignment, values) && eval(n.b, assignment, values);
        case Node::any: return eval(n.a, assignment, values) || eval(n.b, assignment, values);
    }
    return false;
}

Vector Expression::evaluate(uint32_t assignment) const {
    Vector v{std::string(n_, '-'), false};
    v.outcome = eval(root_, assignment, v.values);
    return v;
}

bool shows(const Vector& a, const Vector& b, std::size_t i) {
    if (a.outcome == b.outcome || a.values[i] == '-' || b.values[i] == '-' || a.values[i] == b.values[i]) return false;
    for (std::size_t j = 0; j < a.values.size(); ++j)
        if (j != i && a.values[j] != b.values[j] && a.values[j] != '-' && b.values[j] != '-') return false;
    return true;
}

namespace {

// Whether a full assignment agrees with v's evaluated conditions.
bool consistent(const Vector& v, uint32_t assignment) {
    for (std::size_t j = 0; j < v.values.size(); ++j)
        if (v.values[j] != '-' && (v.values[j] == 'T') != (((assignment >> j) & 1u) != 0)) return false;
    return true;
}

void complete(const Expression& e, const std::vector<Vector>& seen, std::size_t i, ConditionVerdict& out) {
    const uint32_t all = 1u << e.conditions();
    // Flipping condition i in an assignment that agrees with a seen vector
    // keeps every other condition as it was there: the flipped evaluation is
    // the partner if it changes the outcome.
    for (std::size_t s = 0; s < seen.size(); ++s) {
        if (seen[s].values[i] == '-') continue;
        for (uint32_t a = 0; a < all; ++a) {
            if (!consistent(seen[s], a)) continue;
            const Vector w = e.evaluate(a ^ (1u << i));
            if (shows(seen[s], w, i)) {
                out.missing = {w};
                out.partner = s;
                return;
            }
        }
    }
    for (uint32_t a = 0; a < all; ++a) {
        const Vector v = e.evaluate(a), w = e.evaluate(a ^ (1u << i));
        if (shows(v, w, i)) {
            out.missing = {v, w};
            return;
        }
    }
}

}  // namespace

std::vector<ConditionVerdict> analyse(const Expression& e, const std::vector<Vector>& seen) {
    std::vector<ConditionVerdict> out(e.conditions());
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (std::size_t b = 0; b < seen.size() && !out[i].shown; ++b)
            for (std::size_t a = 0; a < b && !out[i].shown; ++a)
                if (shows(seen[a], seen[b], i)) out[i] = {true, a, b, {}, SIZE_MAX};
        if (!out[i].shown) complete(e, seen, i, out[i]);
    }
    return out;
}

}  // namespace kiv::mcdc
