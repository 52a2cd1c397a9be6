// The probe-call scanner of catalog_gen: tokens without comments, strings or
// preprocessor lines, then each IXA_ call parsed by its parentheses, nested
// calls kept as children so conditions can be found inside their decisions.
#include "catalog_gen_scan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace kiv::gen {
namespace {

struct Token {
    std::string text;
    bool ident = false, number = false;
    int line = 0, column = 0;
};

// Splits C++ source into identifiers, numbers and punctuation; literals become
// one opaque token, so a probe name inside a string is not a call.
std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    int line = 1;
    std::size_t line_start = 0;
    bool at_line_start = true;
    auto newline = [&](std::size_t at) {
        ++line;
        line_start = at + 1;
        at_line_start = true;
    };
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '\n') {
            newline(i++);
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '#' && at_line_start) {  // a directive, with its continuation lines
            while (i < s.size() && s[i] != '\n') {
                if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\n') newline(++i);
                ++i;
            }
            continue;
        }
        at_line_start = false;
        if (s.compare(i, 2, "//") == 0) {
            while (i < s.size() && s[i] != '\n')
                ++i;
            continue;
        }
        if (s.compare(i, 2, "/*") == 0) {
            std::size_t end = s.find("*/", i + 2);
            end = end == std::string::npos ? s.size() : end + 2;
            for (; i < end; ++i)
                if (s[i] == '\n') newline(i);
            at_line_start = false;
            continue;
        }
        Token t;
        t.line = line;
        t.column = static_cast<int>(i - line_start) + 1;
        const std::size_t from = i;
        if (c == '"' || c == '\'') {
            for (++i; i < s.size() && s[i] != c && s[i] != '\n'; ++i)
                if (s[i] == '\\') ++i;
            ++i;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.ident = true;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_'))
                ++i;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t.number = true;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.' || s[i] == '\''))
                ++i;
        } else {
            static const char* const two[] = {"&&", "||", "!=", "==", "<=", ">=", "->", "::", "<<", ">>", "++", "--"};
            i += 1;
            for (const char* op : two)
                if (s.compare(from, 2, op) == 0) i = from + 2;
        }
        t.text = s.substr(from, i - from);
        out.push_back(t);
    }
    return out;
}

struct Call {
    std::size_t at = 0, end = 0;                            // the macro token, and its closing parenthesis
    std::vector<std::pair<std::size_t, std::size_t>> args;  // token ranges [first, last)
    std::vector<Call> children;
};

class Scanner {
public:
    Scanner(const std::string& text, const std::string& file) : toks_(tokenize(text)), file_(file) {}

    std::vector<ProbeCall> run() {
        for (std::size_t i = 0; i < toks_.size(); ++i)
            if (is_call(i)) {
                Call c = parse(i);
                i = c.end;
                visit(c, kNone);
            }
        return std::move(calls_);
    }

private:
    std::vector<Token> toks_;
    std::string file_;
    std::vector<ProbeCall> calls_;

    [[noreturn]] void fail(std::size_t at, const std::string& why) const {
        const Token& t = toks_[std::min(at, toks_.size() - 1)];
        throw std::runtime_error(file_ + ":" + std::to_string(t.line) + ":" + std::to_string(t.column) + ": " + why);
    }

    bool is_call(std::size_t i) const {
        return toks_[i].ident && toks_[i].text.rfind("IXA_", 0) == 0 && i + 1 < toks_.size() &&
               toks_[i + 1].text == "(";
    }

    Call parse(std::size_t at) {
        Call c;
        c.at = at;
        int depth = 0;
        std::size_t arg = at + 2;
        for (std::size_t i = at + 2; i < toks_.size(); ++i) {
            const std::string& t = toks_[i].text;
            if (is_call(i)) {
                c.children.push_back(parse(i));
                i = c.children.back().end;
            } else if (t == "(" || t == "[" || t == "{") {
                ++depth;
            } else if (depth > 0 && (t == ")" || t == "]" || t == "}")) {
                --depth;
            } else if (depth == 0 && (t == "," || t == ")")) {
                c.args.emplace_back(arg, i);
                arg = i + 1;
                if (t == ")") {
                    c.end = i;
                    return c;
                }
            }
        }
        fail(at, toks_[at].text + " call is not closed");
    }

    std::string kind_of(std::size_t at) const {
        const std::string& m = toks_[at].text;
        for (const char* k : {"STM", "FC", "SC", "ICF", "DCF"})
            if (m == std::string("IXA_") + k) return k;
        for (const char* k : {"DC", "CC", "CAST", "DBZ"})
            if (m.rfind(std::string("IXA_") + k + "_", 0) == 0) return k;
        for (const char* op : {"NEQ", "EQU", "LES", "LEQ", "GEQ", "GRE"})
            if (m.rfind(std::string("IXA_") + op + "_", 0) == 0) return "RELOP";
        fail(at, "unknown probe " + m);
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // `decision`: index in calls_ of the innermost enclosing decision probe.
    void visit(const Call& c, std::size_t decision) {
        ProbeCall p;
        p.macro = toks_[c.at].text;
        p.kind = kind_of(c.at);
        p.file = file_;
        p.line = toks_[c.at].line;
        p.column = toks_[c.at].column;
        if (c.args.size() < 2 || c.args[1].second - c.args[1].first != 2 || toks_[c.args[1].first].text != "&" ||
            !toks_[c.args[1].first + 1].ident)
            fail(c.at, p.macro + ": the second argument is not &RECORD");
        p.record = toks_[c.args[1].first + 1].text;
        if (p.kind == "RELOP") relational_constants(c, p);
        if (p.kind == "SC") case_label(c, p);
        if (p.kind == "CC") {
            if (decision == kNone) fail(c.at, "condition probe " + p.record + " is not inside a decision probe");
            p.decision = calls_[decision].record;
            calls_[decision].conditions.push_back(p.record);
        }
        const std::size_t index = calls_.size();
        calls_.push_back(p);
        for (const Call& child : c.children)
            visit(child, p.kind == "DC" ? index : decision);
        if (p.kind == "DC") calls_[index].expression = expression(c, calls_[index].conditions);
    }

    // An integer literal, possibly signed or parenthesised: "1u", "-3", "(0x10)".
    std::optional<int64_t> literal(std::size_t first, std::size_t last) const {
        while (last - first >= 3 && toks_[first].text == "(" && toks_[last - 1].text == ")")
            ++first, --last;
        bool negative = false;
        if (last - first == 2 && (toks_[first].text == "-" || toks_[first].text == "+"))
            negative = toks_[first++].text == "-";
        if (last - first != 1 || !toks_[first].number) return std::nullopt;
        std::string digits;
        for (char ch : toks_[first].text)
            if (ch != '\'') digits += ch;
        while (!digits.empty() && std::strchr("uUlL", digits.back()))
            digits.pop_back();
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(digits.c_str(), &end, 0);
        if (digits.empty() || *end != '\0' || errno != 0 || v > 9223372036854775807ull) return std::nullopt;
        return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    }

    void relational_constants(const Call& c, ProbeCall& p) const {
        if (c.args.size() != 4) fail(c.at, p.macro + " has not four arguments");
        p.constants.emplace();
        for (std::size_t a : {2u, 3u})
            if (auto v = literal(c.args[a].first, c.args[a].second)) p.constants->push_back(*v);
    }

    // The label the switch-case probe stands under: the nearest case or default before it.
    void case_label(const Call& c, ProbeCall& p) const {
        for (std::size_t i = c.at; i-- > 0;) {
            if (toks_[i].text == "default") {
                p.constants.emplace();
                return;
            }
            if (toks_[i].text != "case") continue;
            std::size_t colon = i + 1;
            while (colon < c.at && toks_[colon].text != ":")
                ++colon;
            auto v = literal(i + 1, colon);
            if (!v) fail(i, "case label of " + p.record + " is not an integer literal");
            p.constants = std::vector<int64_t>{*v};
            return;
        }
        fail(c.at, "switch-case probe " + p.record + " stands under no case label");
    }

    // The decision's value as a formula over its condition probes: every other
    // token but && || ! and parentheses would be a condition nobody observes.
    std::string expression(const Call& dc, const std::vector<std::string>& conditions) const {
        if (conditions.empty()) return "c";
        if (dc.args.size() != 3) fail(dc.at, toks_[dc.at].text + " has not three arguments");
        std::vector<std::string> out;
        auto [i, last] = dc.args[2];
        std::size_t next_condition = 0;
        while (i < last) {
            const std::string& t = toks_[i].text;
            if (is_call(i)) {
                const Call* child = nullptr;
                for (const Call& ch : dc.children)
                    if (ch.at == i) child = &ch;
                if (!child || kind_of(i) != "CC")
                    fail(i, "decision " + record_of(dc) + " has an operand that is not a condition probe");
                out.push_back("c" + std::to_string(next_condition++));
                i = child->end + 1;
                continue;
            }
            if (t != "&&" && t != "||" && t != "!" && t != "(" && t != ")")
                fail(i, "decision " + record_of(dc) + " has an operand that is not a condition probe: '" + t + "'");
            out.push_back(t);
            ++i;
        }
        std::string text;
        for (std::size_t k = 0; k < out.size(); ++k) {
            const bool tight = k == 0 || out[k] == ")" || out[k - 1] == "(" || out[k - 1] == "!";
            text += (tight ? "" : " ") + out[k];
        }
        std::size_t pos = 0;
        if (!formula(out, pos) || pos != out.size() || next_condition != conditions.size())
            fail(dc.at, "decision " + record_of(dc) + " is not a formula of its conditions: " + text);
        return text;
    }

    std::string record_of(const Call& c) const { return toks_[c.args.at(1).first + 1].text; }

    // formula := term {(&& | ||) term};  term := ! term | ( formula ) | cN
    static bool formula(const std::vector<std::string>& t, std::size_t& i) {
        std::function<bool()> term = [&]() -> bool {
            if (i >= t.size()) return false;
            if (t[i] == "!") return ++i, term();
            if (t[i] == "(") {
                ++i;
                if (!formula(t, i) || i >= t.size() || t[i] != ")") return false;
                return ++i, true;
            }
            return t[i++][0] == 'c';
        };
        if (!term()) return false;
        while (i < t.size() && (t[i] == "&&" || t[i] == "||"))
            if (++i, !term()) return false;
        return true;
    }
};

}  // namespace

std::vector<ProbeCall> scan_probe_calls(const std::string& text, const std::string& file) {
    return Scanner(text, file).run();
}

}  // namespace kiv::gen
