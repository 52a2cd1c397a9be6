// Typed values: reading a suite cell for a variable's type, writing a value back.
#include "suite/value.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace kiv {

std::string value_text(ValueKind k, uint64_t raw) {
    switch (k) {
        case ValueKind::unsigned_int:
            return std::to_string(raw);
        case ValueKind::signed_int:
            return std::to_string(static_cast<int64_t>(raw));
        case ValueKind::floating: {
            char buf[64];
            const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, double_of(raw));
            return ec == std::errc() ? std::string(buf, end) : std::string("nan");
        }
    }
    return {};
}

std::string expect_text(ValueKind k, uint64_t raw) {
    if (k == ValueKind::floating && !std::isfinite(double_of(raw))) return {};
    return value_text(k, raw);
}

ValueParse parse_integer(std::string_view s, bool& negative, uint64_t& magnitude) {
    negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) negative = s[0] == '-', s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        base = 16, s.remove_prefix(2);
    else if (s.size() > 2 && s[0] == '0' && (s[1] == 'b' || s[1] == 'B'))
        base = 2, s.remove_prefix(2);
    if (s.empty() || s[0] == '+' || s[0] == '-') return ValueParse::not_a_number;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (p != s.data() + s.size()) return ValueParse::not_a_number;
    if (ec == std::errc::result_out_of_range) return ValueParse::beyond_64_bits;
    if (ec != std::errc()) return ValueParse::not_a_number;
    return ValueParse::ok;
}


ValueParse parse_value(std::string_view text, const ValueType& t, uint64_t& raw) {
    bool negative = false;
    uint64_t magnitude = 0;
    const ValueParse integer = parse_integer(text, negative, magnitude);
    if (t.floating) {
        double v = 0;
        if (integer == ValueParse::ok) {
            v = static_cast<double>(magnitude);
            if (negative) v = -v;
        } else {
            std::string_view s = text;
            if (!s.empty() && s[0] == '+') s.remove_prefix(1);
            const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (s.empty() || p != s.data() + s.size() || ec == std::errc::invalid_argument) return ValueParse::not_a_number;
            if (!std::isfinite(v)) return ValueParse::not_a_number;  // "inf", "nan": no value a suite can compare
            if (ec == std::errc::result_out_of_range) return ValueParse::beyond_64_bits;
        }
        raw = raw_of(v);
        return v < t.min_float() || v > t.max_float() ? ValueParse::out_of_type : ValueParse::ok;
    }
    if (integer != ValueParse::ok) return integer;
    // Anything of 64 bits, signed or not, has a two's complement.
    if (negative && magnitude > uint64_t{1} << 63) return ValueParse::beyond_64_bits;
    raw = negative ? 0 - magnitude : magnitude;
    const bool fits = negative ? (magnitude == 0 || (t.is_signed && magnitude - 1 <= static_cast<uint64_t>(-(t.min_int() + 1))))
                               : magnitude <= t.max_uint();
    return fits ? ValueParse::ok : ValueParse::out_of_type;
}

bool names_an_enumerator(std::string_view text) {
    return !text.empty() && (std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_');
}

bool enumerator_value(std::string_view text, const ValueType& t, uint64_t& raw) {
    for (const Enumerator& e : t.enumerators)
        if (e.name == text) {
            raw = static_cast<uint64_t>(e.value);
            return true;
        }
    return false;
}

std::string shown_text(const ValueType& t, uint64_t raw) {
    for (const Enumerator& e : t.enumerators)
        if (static_cast<uint64_t>(e.value) == raw) return e.name + " (" + value_text(kind_of(t), raw) + ")";
    return value_text(kind_of(t), raw);
}

std::string cell_text(const ValueType& t, uint64_t raw) {
    for (const Enumerator& e : t.enumerators)
        if (static_cast<uint64_t>(e.value) == raw) return e.name;
    return expect_text(kind_of(t), raw);
}

std::string shown_expect(const ValueType& t, const std::string& text) {
    if (t.enumerators.empty()) return text;
    std::string out;
    std::size_t from = 0;
    while (from <= text.size()) {
        // The next value ends at a '|' or at the ".." of a range.
        std::size_t end = std::min(text.find('|', from), text.find("..", from));
        if (end == std::string::npos) end = text.size();
        const std::string_view piece = std::string_view(text).substr(from, end - from);
        bool negative = false;
        uint64_t magnitude = 0;
        if (parse_integer(piece, negative, magnitude) == ValueParse::ok)
            out += shown_text(t, negative ? 0 - magnitude : magnitude);
        else
            out += piece;
        if (end == text.size()) break;
        const std::size_t sep = text.compare(end, 2, "..") == 0 ? 2 : 1;
        out += text.substr(end, sep);
        from = end + sep;
    }
    return out;
}

std::string enumerators_text(const ValueType& t) {
    if (t.enumerators.empty()) return {};
    std::string s = "  enum";
    for (const Enumerator& e : t.enumerators) s += " " + e.name + "=" + std::to_string(e.value);
    return s;
}

std::string range_text(const ValueType& t) {
    if (t.floating) return "a number";
    return "an integer " + std::to_string(t.min_int()) + ".." + std::to_string(t.max_uint());
}

}  // namespace kiv
