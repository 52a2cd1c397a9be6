// kivinst's behaviour prover: a value analysis over the unit's state, from
// the load state through any number of steps of its scope functions, with
// any input and stub result of their types. It finds the probe flags no step
// can raise; it is sound or silent: a construct it cannot follow (recursion,
// a call through a pointer, goto, inline assembly) ends the proof, reported
// with its location, and nothing is claimed.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace clang {
class ASTContext;
class Expr;
}  // namespace clang

namespace kivinst::prove {

// A probe the instrumenter placed: the expression it observes.
struct Probe {
    const clang::Expr* node = nullptr;
    std::string kind;     // RELOP, DC, CC, CAST, DBZ
    unsigned target = 0;  // CAST: the target type's width in bits; 0 for others
    bool target_signed = false;
};

struct Options {
    std::vector<std::string> entries;  // scope functions; each step runs one of them from any reachable state
    std::set<std::string> written;     // unit variables the harness writes before a step (name or name.field)
    // Entries that run once, before their scope's first step: a harness step
    // may be that many calls more, which bounds in steps allow for.
    unsigned once = 0;
    // Objects of external linkage that no other file names: code elsewhere
    // (other sources, the environment, stubs) cannot write them.
    std::set<std::string> unseen;
    double seconds = 60;               // processor time; running out claims nothing
};

struct Report {
    bool complete = false;  // the analysis reached a fixed point: its claims hold
    std::string why_not;    // when not: the construct or the budget, located
    std::string invariant;  // the state at every step start
    unsigned rounds = 0;
    // Per probe (index into the probes given): flag -> why no step raises it.
    std::map<std::size_t, std::map<std::string, std::string>> unreachable;
    // Steps from the load state the analysis followed in full (the rounds
    // before its fixed point, or before it stopped).
    unsigned steps = 0;
    // Per probe the analysis observes, each flag not proven: no harness step
    // of the first N raises it ("not within N steps"; 0: the first may).
    std::map<std::size_t, std::map<std::string, unsigned>> not_within;
};

Report analyse(clang::ASTContext& ctx, const Options& options, const std::map<std::size_t, Probe>& probes);

}  // namespace kivinst::prove
