// Checks of numeric options that say in words what is accepted: CLI11's own
// range check calls a word that is no number "not in range", and a negative
// or overlong unsigned value would wrap around silently. Header-only, so that
// kivrun and kivinst share one check without sharing anything else.
#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace kiv {

namespace numbers_detail {

inline std::string text_of(double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

}  // namespace numbers_detail

// A whole number from lo to hi, in decimal digits ("-1" and "1e3" are refused).
inline CLI::Validator whole_number(uint64_t lo, uint64_t hi) {
    const std::string expected =
        "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", got '";
    return CLI::Validator(
        [=](std::string& s) -> std::string {
            uint64_t v = 0;
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi)
                return expected + s + "'";
            return "";
        },
        "INT in [" + std::to_string(lo) + " - " + std::to_string(hi) + "]");
}

// A decimal number from lo to hi.
inline CLI::Validator real_number(double lo, double hi) {
    using numbers_detail::text_of;
    const std::string expected = "expected a number from " + text_of(lo) + " to " + text_of(hi) + ", got '";
    return CLI::Validator(
        [=](std::string& s) -> std::string {
            double v = 0;
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v < lo || v > hi)
                return expected + s + "'";
            return "";
        },
        "FLOAT in [" + text_of(lo) + " - " + text_of(hi) + "]");
}

}  // namespace kiv
