// The configuration a unit was instrumented in: which macros its own files
// test and which they define, so that the output can refuse to build in any
// other configuration rather than measure other code.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "instrument.h"

namespace clang {
class PPCallbacks;
class Preprocessor;
}  // namespace clang

namespace kivinst {

// Which macros the unit's own files test and which they define, as the
// preprocessor saw them.
struct Configuration {
    using State = std::optional<std::string>;  // a macro's tokens, "()" if function-like; none: undefined
    std::set<std::string> tested_undefined;  // tested where no definition was in effect
    std::map<std::string, State> last_test;  // each tested macro, as its last test saw it
    std::map<std::string, State> at_end;     // the same macros at the end of the unit
    std::set<std::string> defined_at_start;  // by the compiler, the command line or a forced include
    std::set<std::string> guards;            // include guards of the unit's headers
    std::vector<BesideInclude> beside;       // quoted includes found in the source's folder
    std::map<unsigned, char> conditionals;   // the main file's #if... '(', #elif/#else '|', #endif ')', by offset
};

// Fills config as the preprocessor runs.
std::unique_ptr<clang::PPCallbacks> watch_configuration(clang::Preprocessor& pp, Configuration& config);

// Preprocessor checks that refuse any other configuration of the macros the
// unit depends on, for the top of the output: each -D as given (its value
// where it is an integer), and each macro the unit tests while nothing
// defined it still undefined.
std::string configuration_checks(const Options& options, const Configuration& config);

// Checks for the end of the output: each macro the unit tests, as its tests
// saw it, where that is still so at the end (a value set in a header by
// another -I folder, or kept from a -D by the header's #ifndef).
std::string configuration_tail(const Options& options, const Configuration& config);

}  // namespace kivinst
