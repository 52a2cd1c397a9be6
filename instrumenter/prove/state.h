// The behaviour prover's abstract states: the unit's scalar objects with
// their values, kept in parts by the values of its mode variables.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <clang/AST/Decl.h>
#include <llvm/ADT/SmallVector.h>

#include "value.h"

namespace kivinst::prove {

// A scalar object: a variable, or a field path below a struct variable.
struct Cell {
    const clang::VarDecl* var = nullptr;
    llvm::SmallVector<const clang::FieldDecl*, 2> path;  // inline: states copy cells all the time
    bool operator<(const Cell& o) const { return std::tie(var, path) < std::tie(o.var, o.path); }
    bool operator==(const Cell& o) const { return var == o.var && path == o.path; }
    std::string name() const {
        if (!var) return path.empty() ? "(value)" : "(result)";
        std::string s = var->getNameAsString();
        for (const clang::FieldDecl* f : path) s += "." + f->getNameAsString();
        return s;
    }
};

using Cells = std::map<Cell, Val>;  // cells absent hold any value of their type

// The value an expression just gave (kValue) and the value a function
// returns (kReturn), kept in each part of a state beside the objects: an
// assignment, a declaration or a return of that expression takes each
// part's own value, so that a result stays tied to the path it came from.
inline const Cell kValue{nullptr, {}};
inline const Cell kReturn{nullptr, {nullptr}};

// A state is a disjunction of parts, one per key: the single value of each
// object of enumeration type (a mode or state variable, and a result just
// computed) that holds one. Joining keeps parts of different keys apart, so
// that what holds in one mode is not blurred by what holds in another; past
// kMaxParts the parts are joined into one.
struct State {
    static constexpr std::size_t kMaxParts = 1024;
    using Key = std::vector<std::pair<Cell, __int128>>;

    bool dead = true;  // no execution gets here
    std::vector<Cells> parts;

    static State of(Cells cells) {
        State s;
        s.dead = false;
        s.parts.push_back(std::move(cells));
        return s;
    }
    // Locals the analysis split on (Analyser::split_on); set while it runs.
    static inline const std::set<const clang::VarDecl*>* split_keys = nullptr;

    static bool keyed(const Cell& c) {
        if (!c.var) return true;
        if (c.path.empty() && split_keys && split_keys->count(c.var)) return true;
        const clang::QualType t = c.path.empty() ? c.var->getType() : c.path.back()->getType();
        return t.getCanonicalType()->isEnumeralType();
    }
    static Key key(const Cells& cells) {
        Key k;
        for (const auto& [c, v] : cells)
            if (!v.empty() && v.lo() == v.hi() && keyed(c)) k.emplace_back(c, v.lo());
        return k;
    }
    static Cells join_cells(const Cells& a, const Cells& b) {
        Cells out;
        for (const auto& [c, v] : a)
            if (auto it = b.find(c); it != b.end()) out.emplace_hint(out.end(), c, v.join(it->second));
        return out;
    }
    void add(const Cells& p) {
        const Key k = key(p);
        for (Cells& q : parts)
            if (key(q) == k) {
                q = join_cells(q, p);
                return;
            }
        parts.push_back(p);
    }
    void join(const State& o) {
        if (o.dead) return;
        if (dead) {
            *this = o;
            return;
        }
        for (const Cells& p : o.parts) add(p);
        if (parts.size() > kMaxParts) {
            Cells all = parts.front();
            for (const Cells& p : parts) all = join_cells(all, p);
            parts.assign(1, std::move(all));
        }
    }
    // After a write to every part: parts whose keys now agree become one.
    void normalise() {
        if (parts.size() < 2) return;
        std::vector<Cells> old = std::move(parts);
        parts.clear();
        for (const Cells& p : old) add(p);
    }
    std::map<Key, Cells> by_key() const {
        std::map<Key, Cells> m;
        for (const Cells& p : parts) {
            auto [it, fresh] = m.emplace(key(p), p);
            if (!fresh) it->second = join_cells(it->second, p);
        }
        return m;
    }
    bool operator==(const State& o) const { return dead == o.dead && (dead || by_key() == o.by_key()); }
};

}  // namespace kivinst::prove
