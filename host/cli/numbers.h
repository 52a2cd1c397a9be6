// Checks of numeric options that say in words what is accepted: CLI11's own
// range check calls a word that is no number "not in range", and a negative
// or overlong unsigned value would wrap around silently.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>

namespace kiv {

// A whole number from lo to hi, in decimal digits ("-1" and "1e3" are refused).
CLI::Validator whole_number(uint64_t lo, uint64_t hi);
// A decimal number from lo to hi.
CLI::Validator real_number(double lo, double hi);

}  // namespace kiv
