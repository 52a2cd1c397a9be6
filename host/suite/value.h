// Typed values of harness variables as suites write them and the host reads
// them: every value travels as 64 raw bits whose meaning its kind gives
// (a sign-extended integer, a zero-extended one, or a double's bits).
#pragma once

#include "catalog/catalog.h"

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

enum class ValueKind : uint8_t { unsigned_int, signed_int, floating };

inline ValueKind kind_of(const ValueType& t) {
    return t.floating ? ValueKind::floating : t.is_signed ? ValueKind::signed_int : ValueKind::unsigned_int;
}

inline uint64_t raw_of(double v) {
    return std::bit_cast<uint64_t>(v);
}
inline double double_of(uint64_t raw) {
    return std::bit_cast<double>(raw);
}

// a < b in the order of kind k.
inline bool value_less(ValueKind k, uint64_t a, uint64_t b) {
    switch (k) {
        case ValueKind::unsigned_int:
            return a < b;
        case ValueKind::signed_int:
            return static_cast<int64_t>(a) < static_cast<int64_t>(b);
        case ValueKind::floating:
            return double_of(a) < double_of(b);
    }
    return false;
}

// The value as a suite would write it: decimal, and for a floating value the
// shortest text that reads back as the same double.
std::string value_text(ValueKind k, uint64_t raw);

// The value as an expect cell states it; empty for a floating value that is
// not finite, which no cell can compare: writers of baselines leave such a
// cell empty (no check) rather than write one their reader refuses.
std::string expect_text(ValueKind k, uint64_t raw);

enum class ValueParse { ok, not_a_number, beyond_64_bits, out_of_type };

// An integer literal's sign and magnitude: decimal, 0x hexadecimal or 0b
// binary with an optional sign; not_a_number or beyond_64_bits otherwise.
ValueParse parse_integer(std::string_view s, bool& negative, uint64_t& magnitude);

// A cell's value for a variable of type t: decimal, 0x hexadecimal or 0b
// binary integers with an optional sign, and for a floating type also
// decimal fractions and exponents. `raw` is set whenever the text is a number
// of 64 bits (then out_of_type says it lies outside t's range; an integer of
// the wrong sign or size is given as its 64-bit two's complement).
ValueParse parse_value(std::string_view text, const ValueType& t, uint64_t& raw);

// A cell meant as an enumerator's name: it starts as a C identifier does,
// which no number does.
bool names_an_enumerator(std::string_view text);

// The value of the enumerator called `text` in enum type t; false when t
// has no such name (or is no enum).
bool enumerator_value(std::string_view text, const ValueType& t, uint64_t& raw);

// The value as reports show it: "LAMP_RAMP (2)" where t's enumerators name
// it (the first that does), value_text otherwise.
std::string shown_text(const ValueType& t, uint64_t raw);

// The value as a suite cell writes it: the enumerator's name where t's
// enumerators name it, expect_text otherwise.
std::string cell_text(const ValueType& t, uint64_t raw);

// An expect text ("2", "0..2", "0|2") with each value t's enumerators name
// shown so; any other text as it is.
std::string shown_expect(const ValueType& t, const std::string& text);

// "  enum LAMP_OFF=0 LAMP_ON=1" for an enum type, "" for any other: what a
// listing of variables adds after the type.
std::string enumerators_text(const ValueType& t);

// "an integer 0..255", "an integer -32768..32767", "a number" (floating).
std::string range_text(const ValueType& t);

}  // namespace kiv
