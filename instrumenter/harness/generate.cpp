// kivinst harness: decides what becomes what (scopes, inputs, outputs, stubs,
// IDs) and writes the unit set's tables, glue and instrumented sources.
#include "generate.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <regex>
#include <unistd.h>
#include <set>
#include <sstream>

#include "facts.h"
#include "catalog_text.h"
#include "files.h"
#include "goals.h"
#include "instrument.h"
#include "interfaces.h"
#include "model.h"
#include "prove/open_goals.h"
#include "unit_file.h"

namespace kivinst::harness {

namespace fs = std::filesystem;

namespace {

std::string stem_of(const std::string& path) {
    return fs::path(path).stem().string();
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "state->count" from a pointer parameter's leaf ".count".
// A type as written ("struct acc", "unsigned int") made a name's part.
std::string identifier(const std::string& type) {
    std::string id;
    for (char c : type) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_')
            id += c;
        else if (!id.empty() && id.back() != '_')
            id += '_';
    }
    return id;
}

std::string through_pointer(const std::string& param, const std::string& path) {
    if (path.empty()) return param;
    if (path[0] == '.') return param + "->" + path.substr(1);
    return param + "->" + path;
}

// The glue of one translation unit and what unit.h declares of it.
struct Glue {
    std::map<std::string, std::ostringstream> per_tu;
    std::vector<std::string> header;  // unit.h declarations, in first-seen order
    std::set<std::string> declared;
    std::set<std::string> defined;    // glue names already defined

    void declare(const std::string& d) {
        if (declared.insert(d).second) header.push_back(d);
    }
    // Defines text once under key in tu's glue.
    bool define(const std::string& tu, const std::string& key, const std::string& text) {
        if (!defined.insert(key).second) return false;
        per_tu[tu] << text;
        return true;
    }
};

class Planner {
public:
    Planner(const UnitFile& u, Facts& f, Generated& g) : unit_(u), facts_(f), gen_(g) {}

    std::vector<Scope> scopes;
    Glue glue;
    std::vector<std::string> pre_step;  // functions resetting stubs' per-step counts and arguments
    std::vector<std::string> bitfields; // the frames' accessor types of bit-fields, for unit.h
    bool buffers = false;               // an entry takes a buffer: glue.c checks guard bytes
    std::string env_wrappers;           // wrappers of entries an environment source defines, for glue.c

    void plan(const std::vector<std::string>& entries) {
        // A callback an entry is handed may be called in any scope's step
        // (registered at init, called later): each scope observes each one.
        for (const auto& e : entries)
            for (const Param& p : facts_.functions.at(e).params)
                if (p.kind == ParamKind::Callback) callbacks_.push_back({e, &p});
                else if (p.kind == ParamKind::PointerToStruct)
                    for (const auto& mc : p.member_callbacks) {
                        // Not a structured binding: clang before 16 does not capture one in a lambda.
                        const Function* cb = mc.second.get();
                        if (std::none_of(member_callbacks_.begin(), member_callbacks_.end(),
                                         [&](const auto& m) { return m.second->name == cb->name; }))
                            member_callbacks_.push_back({identifier(p.pointee) + "." + mc.first, cb});
                    }
        for (const auto& e : entries) scopes.push_back(scope(e));
        // What no entry reaches is compiled all the same: its callees need
        // stubs to link, though no scope observes them.
        for (const auto& [name, f] : facts_.functions)
            if (f.defined)
                for (const auto& c : f.calls) {
                    const Function& cf = facts_.functions.at(c);
                    if (!cf.defined && !cf.environment && !cf.system && !glue.defined.count("stub " + c)) {
                        std::vector<Variable> none_in, none_out;
                        stub(cf, c, c, c, none_in, none_out);
                    }
                }
        for (const auto& o : unit_.scopes)
            if (std::find(entries.begin(), entries.end(), o.entry) == entries.end())
                problem(o.loc.str() + ": the unit file sets scope " + o.entry + ", which is not an entry (entries: " +
                        join(entries) + ")");
        for (const auto& [name, set] : unit_.stubs)
            if (!used_stubs_.count(name))
                problem(set.loc.str() + ": the unit file sets stub " + name +
                        ", which is no function the unit calls without defining it nor a callback parameter "
                        "(entry.parameter) of an entry");
        for (const auto& [name, set] : unit_.buffers)
            if (!used_buffers_.count(name))
                problem(set.loc.str() + ": the unit file sets buffer " + name +
                        ", which is no parameter of an entry or a stub (function.parameter)");
        if (!problems_.empty()) {
            std::string all;
            for (const auto& p : problems_) all += (all.empty() ? "" : "\n") + p;
            if (problems_.size() > 1) all += "\n" + std::to_string(problems_.size()) + " problems; nothing written";
            throw BadInput(all);
        }
        int n = 0;
        for (auto& s : scopes) {
            for (auto& v : s.vars) v.n = ++n;
            for (auto& v : s.vars) finish_access(v);
        }
    }

    static std::string join(const std::vector<std::string>& v) {
        std::string s;
        for (const auto& x : v) s += (s.empty() ? "" : ", ") + x;
        return s;
    }

    void warn(const Loc& at, const std::string& what) {
        const std::string w = at.str() + ": warning: " + what;
        if (std::find(gen_.warnings.begin(), gen_.warnings.end(), w) == gen_.warnings.end()) gen_.warnings.push_back(w);
    }

private:
    const ScopeOverride* override_of(const std::string& entry) const {
        for (const auto& o : unit_.scopes)
            if (o.entry == entry) return &o;
        return nullptr;
    }

    // A variable the frame reaches directly when the unit's side is a global
    // scalar or scalar array with external linkage; else through a pointer
    // the glue of its translation unit defines.
    Variable on_global(const Global& g, const Leaf& leaf, const std::string& name, bool in) {
        Variable v;
        v.name = name;
        v.in = in;
        v.type = leaf.type;
        v.enumerators = leaf.enumerators;
        if (g.external && !g.element_type.empty() && (g.array_size < 0 ? leaf.path.empty() : leaf.path[0] == '[')) {
            v.direct = g.name + leaf.path;
            v.direct_decl = "extern " + g.element_type + " " + g.name +
                            (g.array_size < 0 ? "" : "[" + std::to_string(g.array_size) + "]") + ";";
        } else {
            v.glue_tu = g.tu;
            v.glue_expr = leaf_access(g.name, leaf);
            v.bitfield = leaf.bitfield;
        }
        return v;
    }

    void finish_access(Variable& v) {
        if (!v.direct.empty()) {
            glue.declare(v.direct_decl);
            return;
        }
        if (v.bitfield) {
            // No address to take: the glue reads and writes it for the frame.
            const std::string n = std::to_string(v.n);
            glue.define(v.glue_tu, "field " + n,
                        v.type + " kiv_get_" + n + "(void) { return (" + v.type + ")(" + v.glue_expr + "); }\n" +
                            "void kiv_set_" + n + "(" + v.type + " v) { " + v.glue_expr + " = v; }\n");
            glue.declare(v.type + " kiv_get_" + n + "(void);");
            glue.declare("void kiv_set_" + n + "(" + v.type + " v);");
            bitfields.push_back("using kiv_field_" + n + " = kiv_bitfield<" + v.type + ", kiv_get_" + n + ", kiv_set_" + n + ">;");
            v.direct = "(kiv_field_" + n + "{})";
            return;
        }
        // One pointer per place: an input and an output of the same field share it.
        auto [it, fresh] = refs_.try_emplace(v.glue_tu + "\n" + v.glue_expr + "\n" + v.type, "kiv_ref_" + std::to_string(v.n));
        const std::string& ref = it->second;
        if (fresh) {
            glue.define(v.glue_tu, ref, v.type + "* const " + ref + " = (" + v.type + "*)&(" + v.glue_expr + ");\n");
            glue.declare("extern " + v.type + "* const " + ref + ";");
        }
        v.direct = "(*" + ref + ")";
    }

    std::set<std::string> reachable(const std::string& entry) const {
        std::set<std::string> seen{entry};
        std::vector<std::string> todo{entry};
        while (!todo.empty()) {
            const std::string f = todo.back();
            todo.pop_back();
            for (const auto& c : facts_.functions.at(f).calls) {
                auto it = facts_.functions.find(c);
                if (it != facts_.functions.end() && it->second.defined && seen.insert(c).second) todo.push_back(c);
            }
        }
        return seen;
    }

    // A non-const pointer to characters or bytes, no enum's: rarely one object.
    static bool bytes_out(const Param& p) {
        return p.kind == ParamKind::PointerToScalar && !p.pointee_const && p.leaves[0].enumerators.empty() &&
               (p.element == "int8_t" || p.element == "uint8_t");
    }

    // The capacity of buffer parameter i of function fn, and its length
    // parameter: the unit file's, else the signature's with a default capacity.
    void shape_buffers(const std::string& fn, Function& f, std::map<int, int>& capacity, bool entry) {
        for (std::size_t i = 0; i < f.params.size(); ++i) {
            Param& p = f.params[i];
            auto it = unit_.buffers.find(fn + "." + p.name);
            if (it != unit_.buffers.end()) {
                used_buffers_.insert(it->first);
                const BufferSetting& b = it->second;
                if (p.element.empty() && !(entry && (p.kind == ParamKind::PointerToStruct || p.kind == ParamKind::Buffer))) {
                    problem(b.loc.str() + ": " + fn + "." + p.name + " is no pointer to a scalar or to void" +
                            (entry ? "" : " (a stub's buffer of structs is not filled)") + ", so it cannot be a buffer");
                    continue;
                }
                p.kind = ParamKind::Buffer;
                if (!b.length.empty()) {
                    if (p.length >= 0) f.params[static_cast<std::size_t>(p.length)].length_of = -1;
                    p.length = -1;
                    for (std::size_t k = 0; k < f.params.size(); ++k)
                        if (f.params[k].name == b.length) p.length = static_cast<int>(k);
                    if (p.length < 0 || f.params[static_cast<std::size_t>(p.length)].kind != ParamKind::Scalar) {
                        problem(b.loc.str() + ": length " + b.length + " of buffer " + fn + "." + p.name +
                                " is no scalar parameter of " + fn);
                        p.length = -1;
                        continue;
                    }
                    f.params[static_cast<std::size_t>(p.length)].length_of = static_cast<int>(i);
                }
                capacity[static_cast<int>(i)] = b.capacity;
            } else if (p.kind == ParamKind::Buffer && p.element.empty() && !entry) {
                // A stub fills the first of the structs it is handed, as through any pointer.
                p.kind = ParamKind::PointerToStruct;
                if (p.length >= 0) f.params[static_cast<std::size_t>(p.length)].length_of = -1;
                p.length = -1;
            } else if (p.kind == ParamKind::Buffer || (entry && p.kind == ParamKind::Other && !p.element.empty()) ||
                       (entry && bytes_out(p))) {
                // An entry's untyped pointer without a length (a user context),
                // or a pointer it writes characters or bytes through (a text
                // to format, a block to encrypt in place), gets bytes of the
                // harness's own to point to.
                p.kind = ParamKind::Buffer;
                capacity[static_cast<int>(i)] = kDefaultCapacity;
                warn(p.loc, "buffer " + p.name + " of " + fn + " has no stated capacity; " +
                                std::to_string(kDefaultCapacity) + " elements assumed. State it in the unit file: "
                                "\"buffers\": {\"" + fn + "." + p.name + "\": {\"capacity\": N}}");
            }
        }
    }

    // A stub of a function the unit calls (or of a callback it is given,
    // shown under the parameter's name), answering as the unit file says or,
    // for a function called from several places, per call.
    void stub(const Function& given, const std::string& shown, const std::string& key, const std::string& setting,
              std::vector<Variable>& in, std::vector<Variable>& out) {
        Function f = given;
        StubShape shape;
        shape.c_name = f.name;
        shape.key = key;
        shape.shown = shown;
        shape.fills_objects = shown == f.name;
        const StubSetting* set = nullptr;
        if (auto it = unit_.stubs.find(setting); it != unit_.stubs.end()) set = &it->second;
        if (set) used_stubs_.insert(setting);
        bool fills = false;
        for (const Param& p : f.params) fills |= p.kind == ParamKind::PointerToScalar && !p.pointee_const;
        const bool scalar_result = f.return_leaves.size() == 1 && f.return_leaves[0].path.empty();
        shape.calls = set && set->calls >= 0 ? set->calls
                      : f.call_sites >= 2 && (scalar_result || fills) ? std::min(f.call_sites, kDefaultHistory)
                                                                        : 0;
        bool observed = false;
        for (const Param& p : f.params) observed |= p.kind == ParamKind::Scalar;
        shape.history = set && set->history >= 0 ? set->history : observed ? std::max(kDefaultHistory, shape.calls) : 0;
        if (set && !set->key.empty()) {
            for (std::size_t i = 0; i < f.params.size(); ++i)
                if (f.params[i].name == set->key) shape.key_param = static_cast<int>(i);
            if (shape.key_param < 0 || f.params[static_cast<std::size_t>(shape.key_param)].kind != ParamKind::Scalar ||
                f.params[static_cast<std::size_t>(shape.key_param)].leaves[0].type.find("int") == std::string::npos)
                return problem(set->loc.str() + ": key " + set->key + " of stub " + shown +
                               " is no integer parameter of it; a result is chosen by a small integer argument");
            if (!scalar_result)
                return problem(set->loc.str() + ": stub " + shown + " returns no scalar, so nothing is chosen by " +
                               set->key);
            shape.keys = set->keys;
        }
        shape_buffers(shown, f, shape.capacity, false);
        const bool first = glue.defined.insert("stub " + key).second;
        StubPieces pieces = write_stub(f, shape);
        if (first) {
            glue.per_tu[f.tu] << pieces.text;
            for (const auto& r : pieces.resets) pre_step.push_back(r);
            for (const auto& [at, what] : pieces.notes) warn(at, what);
        }
        in.insert(in.end(), pieces.in.begin(), pieces.in.end());
        out.insert(out.end(), pieces.out.begin(), pieces.out.end());
    }

    void callback_stub(const std::string& entry, const Param& p, std::vector<Variable>& in, std::vector<Variable>& out) {
        const std::string shown = entry + "." + p.name;
        stub(*p.callback, shown, "cb_" + entry + "_" + p.name, shown, in, out);
    }

    // A problem of the unit that does not stop the others from being found.
    void problem(const std::string& what) {
        if (std::find(problems_.begin(), problems_.end(), what) == problems_.end()) problems_.push_back(what);
    }

    // Once per type and member, at the first place that has it.
    void note_skipped(const Loc& at, const std::string& type, const std::function<std::string(const std::string&)>& shown,
                      const std::vector<Skipped>& skipped) {
        for (const auto& k : skipped)
            if (skipped_seen_.insert(type + "\n" + k.path).second)
                warn(at, shown(k.path) + " (" + type + ") is " + k.why + " and not observed; the other members are");
    }

    Scope scope(const std::string& entry) {
        Function f = facts_.functions.at(entry);
        const ScopeOverride* o = override_of(entry);
        Scope s;
        s.entry = entry;
        s.name = o && !o->name.empty() ? o->name : entry;
        s.step = o && !o->step.empty() ? o->step : "kiv_step_" + entry;
        s.init = o && !o->init.empty() ? o->init : "kiv_no_init";
        s.infer = !(o && o->infer.has_value() && !*o->infer);
        if (o && !o->init.empty()) {
            auto it = facts_.functions.find(o->init);
            if (it == facts_.functions.end() || !(it->second.defined || it->second.environment))
                throw BadInput(unit_.locate(o->init).str() + ": init " + o->init + " of scope " + s.name +
                               " is no function of the unit or its environment" + suggestion(o->init, defined_functions()));
            glue.declare("void " + o->init + "(void);");
        }
        if (f.variadic)
            problem(f.loc.str() + ": entry " + entry +
                    " takes variable arguments, which a harness cannot feed; write a wrapper with fixed "
                    "arguments in an environment source and name it with --entry");
        std::vector<Variable> in, out;
        const bool direct = f.params.empty() && f.return_type == "void";
        std::ostringstream wrapper, storage;
        std::string before, after;  // around the call: a buffer's guard bytes set, then checked
        std::vector<std::string> args;
        std::map<std::string, int> objects;  // pointee type -> pointer parameters of it so far
        std::map<int, int> capacity;
        shape_buffers(entry, f, capacity, true);
        for (std::size_t i = 0; i < f.params.size(); ++i) {
            const Param& p = f.params[i];
            std::string var = "kiv_in_" + entry + "_" + p.name;
            switch (p.kind) {
                case ParamKind::Scalar: {
                    storage << p.leaves[0].type << " " << var << ";\n";
                    in.push_back(with_enums(on_glue_scalar(var, p.leaves[0].type, p.name, true), p.leaves[0]));
                    const int of = p.length_of;
                    const ParamKind counts = of >= 0 ? f.params[static_cast<std::size_t>(of)].kind : ParamKind::Other;
                    if (counts == ParamKind::Buffer) {
                        // A length never beyond what the harness's buffer holds.
                        args.push_back(held_length(var, p.leaves[0].type, capacity[of]));
                    } else {
                        args.push_back(var);
                    }
                    break;
                }
                case ParamKind::Struct:
                    storage << "static " << p.decl_type << " " << var << ";\n";
                    for (const Leaf& l : p.leaves) in.push_back(on_leaf(f.tu, var, l, p.name + l.path, true));
                    note_skipped(p.loc, p.decl_type, [&](const std::string& path) { return p.name + path; }, p.skipped);
                    args.push_back(var);
                    break;
                case ParamKind::PointerToScalar:
                case ParamKind::PointerToStruct:
                    // The k-th pointer to S of every entry of a source points to one
                    // object, so what one entry leaves in it (an Init's work, a filter's
                    // sum) is what the next step of any entry finds there.
                    var = "kiv_obj_" + identifier(p.pointee) + "_" + std::to_string(objects[p.pointee]++);
                    if (p.kind == ParamKind::PointerToScalar) {
                        // One scalar with guard bytes after it: a unit that takes it
                        // for an array fails the step rather than writing over the
                        // harness's memory unseen.
                        const GuardedObject g = guard_object(var, p.pointee, p.name + " of " + entry);
                        glue.define(f.tu, "object " + f.tu + "\n" + var, g.storage);
                        before += g.before;
                        after += g.after;
                        buffers = true;
                        var = g.lvalue;
                    } else {
                        // Its callbacks start at stubs; the unit may point them elsewhere.
                        std::string protos, init;
                        for (const auto& [member, cb] : p.member_callbacks) {
                            protos += cb->declaration + ";\n";
                            init += (init.empty() ? " = {" : ",") + std::string(" .") + member + " = " + cb->name;
                        }
                        glue.define(f.tu, "object " + f.tu + "\n" + var,
                                    protos + "static " + p.pointee + " " + var + (init.empty() ? "" : init + " }") + ";\n");
                        for (const auto& [member, cb] : p.member_callbacks)
                            if (!s.infer) {
                                std::vector<Variable> none_in, none_out;
                                stub(*cb, member, cb->name.substr(4), member, none_in, none_out);
                            }
                    }
                    for (const Leaf& l : p.leaves) {
                        const std::string name =
                            p.kind == ParamKind::PointerToScalar ? p.name : through_pointer(p.name, l.path);
                        // Its fields follow the object: an empty cell keeps what the unit
                        // left there. Fields behind const too, as another entry may write them.
                        Variable v = on_leaf(f.tu, var, l, name, true);
                        v.follows = true;
                        in.push_back(v);
                        if (!p.pointee_const) out.push_back(on_leaf(f.tu, var, l, name, false));
                    }
                    {
                        std::vector<Skipped> left;
                        for (const Skipped& k : p.skipped)
                            if (std::none_of(p.member_callbacks.begin(), p.member_callbacks.end(),
                                             [&](const auto& m) { return "." + m.first == k.path; }))
                                left.push_back(k);
                        note_skipped(p.loc, p.pointee, [&](const std::string& path) { return through_pointer(p.name, path); },
                                     left);
                    }
                    args.push_back("&" + var);
                    break;
                case ParamKind::Buffer: {
                    std::string given;
                    if (p.length >= 0) {
                        const Param& n = f.params[static_cast<std::size_t>(p.length)];
                        given = held_length("kiv_in_" + entry + "_" + n.name, n.leaves[0].type, capacity[static_cast<int>(i)]);
                    }
                    BufferPieces b = write_buffer(f.tu, entry, p, capacity[static_cast<int>(i)], given);
                    buffers = true;
                    storage << b.storage;
                    before += b.before;
                    after += b.after;
                    in.insert(in.end(), b.in.begin(), b.in.end());
                    out.insert(out.end(), b.out.begin(), b.out.end());
                    args.push_back(b.argument);
                    break;
                }
                case ParamKind::Callback: {
                    // A stub of the callback's type; a suite may hand NULL instead.
                    const std::string null = var + "_null";
                    storage << "bool " << null << ";\n" << p.callback->declaration << ";\n";
                    in.push_back(on_glue_scalar(null, "bool", p.name + ".null", true));
                    if (!s.infer) {
                        std::vector<Variable> none_in, none_out;
                        callback_stub(entry, p, none_in, none_out);
                    }
                    args.push_back("(" + null + " ? 0 : " + p.callback->name + ")");
                    break;
                }
                case ParamKind::Other:
                    problem(p.loc.str() + ": parameter " + p.name + " of entry " + entry + " is " + p.why +
                            ", which a harness cannot feed; choose other entries with --entry, or write a "
                            "wrapper that calls " + entry + " with a value of your own in an environment "
                            "source and name it as the entry");
                    args.push_back("0");
                    break;
            }
        }
        std::string call = entry + "(" + join(args) + ")";
        if (f.return_type != "void") {
            const std::string r = "kiv_ret_" + entry;
            if (f.return_leaves.size() == 1 && f.return_leaves[0].path.empty()) {
                storage << f.return_leaves[0].type << " " << r << ";\n";
                out.push_back(with_enums(on_glue_scalar(r, f.return_leaves[0].type, "return", false), f.return_leaves[0]));
            } else {
                storage << "static " << f.return_type << " " << r << ";\n";
                for (const Leaf& l : f.return_leaves) out.push_back(on_leaf(f.tu, r, l, "return" + l.path, false));
                if (f.return_leaves.empty())
                    warn(f.loc, "the result of entry " + entry + " is " + f.return_why + " and not observed");
            }
            call = r + " = " + call;
        }
        if (f.environment && !direct) {
            // An environment source has no glue of its own: its entry's
            // wrapper goes to glue.c, which knows only fixed-width types.
            for (const Param& p : f.params)
                if (p.kind != ParamKind::Scalar)
                    throw BadInput(p.loc.str() + ": parameter " + p.name + " of entry " + entry +
                                   ", defined in an environment source, is " +
                                   (p.why.empty() ? std::string("not a scalar") : p.why) +
                                   "; an environment entry takes scalars only");
            if (f.return_type != "void" && !(f.return_leaves.size() == 1 && f.return_leaves[0].path.empty()))
                throw BadInput(f.loc.str() + ": entry " + entry +
                               ", defined in an environment source, returns no scalar; return a scalar or nothing");
            std::string proto;
            for (const Param& p : f.params) proto += (proto.empty() ? "" : ", ") + p.leaves[0].type;
            glue.declare((f.return_type == "void" ? std::string("void") : f.return_leaves[0].type) + " " + entry + "(" +
                         (proto.empty() ? "void" : proto) + ");");
            s.unit = "kiv_entry_" + entry;
            env_wrappers += "\n// Scope " + s.name + ": " + entry + " with its arguments from harness variables.\n" +
                            storage.str() + "void " + s.unit + "(void)\n{\n    " + call + ";\n}\n";
            glue.declare("void " + s.unit + "(void);");
        } else if (direct) {
            s.unit = entry;
            glue.declare("void " + entry + "(void);");
        } else {
            s.unit = "kiv_entry_" + entry;
            glue.define(f.tu, "entry " + entry,
                        "\n// Scope " + s.name + ": " + entry + " with its arguments from harness variables.\n" +
                            storage.str() + "void " + s.unit + "(void)\n{\n" + before + "    " + call + ";\n" + after +
                            "}\n");
            glue.declare("void " + s.unit + "(void);");
        }

        if (s.infer) {
            const auto reach = reachable(entry);
            std::set<std::string> stubs, globals;
            for (const auto& r : reach) {
                const Function& rf = facts_.functions.at(r);
                for (const auto& c : rf.calls) {
                    const Function& cf = facts_.functions.at(c);
                    if (!cf.defined && !cf.environment && !cf.system) stubs.insert(c);
                }
                globals.insert(rf.globals.begin(), rf.globals.end());
                for (const auto& [name, at] : rf.static_locals)
                    warn(at, "static " + name + " of " + r +
                                 " is state no harness variable can reach; move it to file scope to observe it");
            }
            for (const auto& c : stubs) stub(facts_.functions.at(c), c, c, c, in, out);
            for (const auto& [e, p] : callbacks_) callback_stub(e, *p, in, out);
            for (const auto& [shown, cb] : member_callbacks_) stub(*cb, shown, cb->name.substr(4), shown, in, out);
            for (const auto& name : globals) {
                auto it = facts_.globals.find(name);
                if (it == facts_.globals.end()) continue;
                const Global& g = it->second;
                if (g.environment || g.system) continue;
                if (g.defined && g.is_const) continue;  // a table, not state
                if (!g.defined && g.is_const) {
                    warn(g.loc, name + " is const and defined nowhere; define it in an environment source");
                    continue;
                }
                if (g.leaves.empty()) {
                    warn(g.loc, name + " is " + g.why + " and not observed");
                    if (!g.defined) glue.define(g.tu, "global " + name, g.decl + ";\n");
                    continue;
                }
                if (!g.defined)
                    glue.define(g.tu, "global " + name,
                                "\n/* " + name + " is read by the unit and defined nowhere: a harness input. */\n" + g.decl + ";\n");
                for (const Leaf& l : g.leaves) {
                    Variable v = on_global(g, l, name + l.path, !g.defined);
                    (v.in ? in : out).push_back(v);
                }
                note_skipped(g.loc, name, [&](const std::string& path) { return name + path; }, g.skipped);
            }
        }
        // Overrides of inferred variables, then the unit file's own.
        if (o) {
            for (const auto& [key, vo] : o->variables) {
                bool found = false;
                for (auto* list : {&in, &out})
                    for (auto& v : *list)
                        if (v.name == key) {
                            found = true;
                            if (!vo.name.empty()) v.name = vo.name;
                            if (!vo.type.empty()) v.type = vo.type;
                            if (v.in && !vo.setter.empty()) v.setter = vo.setter;
                            if (v.in && vo.id) v.id = vo.id;
                        }
                if (!found) {
                    std::vector<std::string> names;
                    for (auto* list : {&in, &out})
                        for (auto& v : *list) names.push_back(v.name);
                    throw BadInput(vo.loc.str() + ": scope " + s.name + " has no variable " + key +
                                   suggestion(key, names));
                }
            }
            for (const auto& x : o->inputs) in.push_back(extra(x, true, s));
            for (const auto& x : o->outputs) out.push_back(extra(x, false, s));
        }
        for (auto* list : {&in, &out}) {
            std::set<std::string> seen;
            for (const auto& v : *list)
                if (!seen.insert(lowered(v.name)).second)
                    throw BadInput((unit_.path.empty() ? f.loc.str() : unit_.path) + ": two " +
                                   (v.in ? "inputs" : "outputs") + " of scope " + s.name + " would be named " + v.name +
                                   "; rename one in the unit file's \"variables\" of " + entry);
        }
        for (auto& v : in)
            if (v.setter.empty()) v.setter = v.type == "bool" ? "BOOL" : "PLAIN";
        s.vars = std::move(in);
        s.vars.insert(s.vars.end(), out.begin(), out.end());
        return s;
    }

    Variable extra(const ExtraVariable& x, bool in, const Scope& s) {
        std::size_t end = 0;
        while (end < x.variable.size() && (std::isalnum(static_cast<unsigned char>(x.variable[end])) || x.variable[end] == '_')) ++end;
        const std::string base = x.variable.substr(0, end);
        std::string path;
        for (char c : x.variable.substr(end))
            if (!std::isspace(static_cast<unsigned char>(c))) path += c;
        auto it = facts_.globals.find(base);
        if (it == facts_.globals.end() || !(it->second.defined || it->second.environment)) {
            std::vector<std::string> names;
            for (const auto& [k, g] : facts_.globals)
                if (g.defined || g.environment) names.push_back(k);
            throw BadInput(x.loc.str() + ": " + base + " (in " + (in ? "an input" : "an output") + " of scope " + s.name +
                           ") is no variable the unit or its environment defines" + suggestion(base, names));
        }
        const Global& g = it->second;
        const Leaf* leaf = nullptr;
        std::vector<std::string> paths;
        for (const Leaf& l : g.leaves) {
            paths.push_back(base + l.path);
            if (l.path == path) leaf = &l;
        }
        if (!leaf)
            throw BadInput(x.loc.str() + ": " + x.variable + " is no scalar of " + base +
                           (paths.empty() ? " (" + base + " is " + g.why + ")" : suggestion(x.variable, paths)));
        Variable v = on_global(g, *leaf, x.name, in);
        if (v.direct.empty() && g.environment)
            throw BadInput(x.loc.str() + ": " + base + " is defined in an environment source but is not a scalar or "
                           "array of scalars with external linkage; give it external linkage or name a scalar the "
                           "environment copies it to");
        if (!x.type.empty()) v.type = x.type;
        v.setter = x.setter;
        v.id = x.id;
        return v;
    }

public:
    std::vector<std::string> defined_functions() const {
        std::vector<std::string> out;
        for (const auto& [k, f] : facts_.functions)
            if (f.defined || f.environment) out.push_back(k);
        return out;
    }

    static std::string suggestion(const std::string& name, const std::vector<std::string>& known) {
        auto n = nearest(name, known);
        if (n.empty()) return "";
        return "; nearest: " + join(n);
    }

private:
    const UnitFile& unit_;
    Facts& facts_;
    Generated& gen_;
    std::map<std::string, std::string> refs_;  // glue place -> its pointer
    std::vector<std::pair<std::string, const Param*>> callbacks_;  // entry, its callback parameter
    std::vector<std::pair<std::string, const Function*>> member_callbacks_;  // "S.member", its stub
    std::vector<std::string> problems_;        // reported together, after every entry was looked at
    std::set<std::string> used_stubs_, used_buffers_;
    std::set<std::string> skipped_seen_;  // unit file settings that found their function
};

// Scope and variable names are written into the tables as C strings and
// matched by suites regardless of case; a scope's step is a function the
// runtime defines. Each fault is refused at the unit file's place for it.
void check_names(const UnitFile& unit, const Facts& facts, const std::vector<Scope>& scopes) {
    auto where = [&](const Scope& s, const std::string& value) {
        for (const auto& o : unit.scopes)
            if (o.entry == s.entry) return (unit.locate(value).line ? unit.locate(value) : o.loc).str();
        return facts.functions.at(s.entry).loc.str();
    };
    static const std::regex c_identifier("[A-Za-z_][A-Za-z_0-9]*");
    std::map<std::string, const Scope*> names, steps;
    for (const Scope& s : scopes) {
        if (const std::string why = unusable_name(s.name); !why.empty())
            throw BadInput(where(s, s.name) + ": scope name \"" + printable(s.name) + "\" cannot be written: " + why);
        if (auto [it, fresh] = names.emplace(lowered(s.name), &s); !fresh)
            throw BadInput(where(s, s.name) + ": scopes " + it->second->entry + " and " + s.entry + " are both named " +
                           s.name + " (suites match names regardless of case); give one another \"name\"");
        if (!std::regex_match(s.step, c_identifier))
            throw BadInput(where(s, s.step) + ": step \"" + printable(s.step) + "\" of scope " + s.name +
                           " must be a C identifier");
        if (facts.functions.count(s.step) || facts.globals.count(s.step))
            throw BadInput(where(s, s.step) + ": step " + s.step + " of scope " + s.name +
                           " is a name the unit already uses; give the frame a name of its own");
        if (auto [it, fresh] = steps.emplace(s.step, &s); !fresh)
            throw BadInput(where(s, s.step) + ": scopes " + it->second->name + " and " + s.name + " have one step " + s.step);
        for (const Variable& v : s.vars)
            if (const std::string why = unusable_name(v.name); !why.empty())
                throw BadInput(where(s, v.name) + ": variable name \"" + printable(v.name) + "\" of scope " + s.name +
                               " cannot be written: " + why);
    }
}

std::string banner(const std::string& what) {
    return "// " + what + "\n// Written by kivinst harness; regenerate rather than edit.\n";
}

// The enumerators of the harness variables whose C type is an enum, so that
// suites and reports can name their values: KIV_ENUMERATOR(n, name, value)
// for kiv_haux<n>, in declaration order.
std::string enums_def(const std::string& unit_name, const std::vector<Scope>& scopes) {
    std::ostringstream t;
    t << banner("The enumerators of the enum-typed harness variables of " + unit_name +
                ": KIV_ENUMERATOR(n, name, value)\n// for kiv_haux<n>.")
      << "#ifndef KIV_ENUMERATOR\n#define KIV_ENUMERATOR(n, name, value)\n#endif\n\n";
    for (const auto& s : scopes)
        for (const auto& v : s.vars)
            for (const auto& [name, value] : v.enumerators)
                t << "KIV_ENUMERATOR(" << v.n << ", \"" << name << "\", "
                  << (value == INT64_MIN ? std::string("-9223372036854775807 - 1") : std::to_string(value)) << ")\n";
    t << "\n#undef KIV_ENUMERATOR\n";
    return t.str();
}

// The objects of external linkage a unit source defines that no other file
// names: no other source or environment source mentions them, and no header
// does but to declare them extern (a macro or an inline function in a header
// could write them from elsewhere). The behaviour prover keeps them across
// calls into other files.
std::set<std::string> unseen_elsewhere(const Facts& facts) {
    namespace fs = std::filesystem;
    auto key = [](const std::string& p) {
        std::error_code ec;
        return fs::weakly_canonical(p, ec).string();
    };
    std::map<std::string, std::string> text;  // file -> its text
    std::set<std::string> mains;
    for (const auto& list : {facts.sources, facts.environment, facts.opened})
        for (const auto& f : list) {
            std::ifstream in(f, std::ios::binary);
            std::ostringstream s;
            s << in.rdbuf();
            text[key(f)] = s.str();
        }
    for (const auto& list : {facts.sources, facts.environment})
        for (const auto& f : list) mains.insert(key(f));
    std::set<std::string> out;
    for (const auto& [name, g] : facts.globals) {
        if (!g.defined || !g.external || g.system || g.environment) continue;
        const std::regex word("\\b" + name + "\\b");
        const std::regex declaration("^\\s*extern\\b[^=(]*\\b" + name + "\\b[^=(]*;\\s*$");
        bool named = false;
        for (const auto& [file, body] : text) {
            if (file == key(g.tu)) continue;
            std::istringstream lines(body);
            for (std::string line; !named && std::getline(lines, line);)
                named = std::regex_search(line, word) && (mains.count(file) || !std::regex_search(line, declaration));
        }
        if (!named) out.insert(name);
    }
    return out;
}

}  // namespace

Generated generate(const Options& options) {
    Generated gen;
    UnitFile unit;
    if (!options.unit_file.empty()) unit = read_unit_file(options.unit_file);

    Facts facts;
    std::set<std::string> stems;
    for (const auto& s : options.sources) {
        if (!fs::is_regular_file(s)) throw BadInput(s + ": no such file");
        if (!stems.insert(stem_of(s)).second)
            throw BadInput(s + ": two sources named " + stem_of(s) + ".*; their generated files would collide");
        facts.sources.push_back(s);
    }
    if (facts.sources.empty()) throw BadInput("give at least one SOURCE.c");
    facts.environment = unit.environment;
    for (const auto& [file, number] : unit.units) {
        bool known = false;
        for (const auto& s : options.sources) known |= fs::path(s).filename() == file;
        if (!known) throw BadInput(unit.locate(file).str() + ": " + file + " is not among the sources");
    }
    // The name becomes a CMake target and project, and file names: a
    // source's stem ("sp ace.v2") is made an identifier of it.
    gen.name = !options.name.empty() ? options.name
               : !unit.name.empty()  ? unit.name
                                     : identifier(stem_of(options.sources.front()));
    if (gen.name.empty() || gen.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                                std::string::npos)
        throw BadInput("--name " + printable(gen.name) + ": the library's name must be a C identifier");
    for (const auto& i : options.includes) gen.compiler_args.push_back("-I" + i);
    for (const auto& i : unit.includes) gen.compiler_args.push_back("-I" + i);
    for (const auto& d : options.defines) gen.compiler_args.push_back("-D" + d);
    for (const auto& d : unit.defines) gen.compiler_args.push_back("-D" + d);
    gen.environment = unit.environment;

    collect_facts(gen.compiler_args, facts);
    gen.opened.insert(facts.opened.begin(), facts.opened.end());

    // Entries: named, or every external function of the unit nobody calls.
    std::vector<std::string> candidates;
    std::set<std::string> called;
    std::vector<const Function*> defined;
    for (const auto& [name, f] : facts.functions)
        if (f.defined || f.environment) {
            defined.push_back(&f);
            for (const auto& c : f.calls)
                if (c != name) called.insert(c);
        }
    auto source_index = [&](const std::string& tu) {
        return std::find(facts.sources.begin(), facts.sources.end(), tu) - facts.sources.begin();
    };
    std::sort(defined.begin(), defined.end(), [&](const Function* a, const Function* b) {
        return std::make_tuple(source_index(a->tu), a->loc.line, a->name) <
               std::make_tuple(source_index(b->tu), b->loc.line, b->name);
    });
    std::vector<std::string> all_defined;
    for (const Function* f : defined) {
        all_defined.push_back(f->name);
        if (f->external && f->defined) candidates.push_back(f->name);
    }
    std::vector<std::string> entries = options.entries;
    for (const auto& e : unit.entries)
        if (std::find(entries.begin(), entries.end(), e) == entries.end()) entries.push_back(e);
    std::string unknown;  // every misnamed entry at once
    for (const auto& e : entries) {
        auto it = facts.functions.find(e);
        if (it == facts.functions.end() || !(it->second.defined || it->second.environment)) {
            const std::string where = std::find(unit.entries.begin(), unit.entries.end(), e) != unit.entries.end()
                                          ? unit.locate(e).str() + ": "
                                          : "";
            unknown += (unknown.empty() ? "" : "\n") + where + "entry " + e + " is not a function the unit defines" +
                       Planner::suggestion(e, all_defined);
        }
    }
    if (!unknown.empty()) throw BadInput(unknown);
    if (entries.empty()) {
        for (const auto& c : candidates)
            if (!called.count(c)) entries.push_back(c);
        if (entries.empty())
            throw BadInput("no entry function found: every function with external linkage is called by the unit "
                           "itself; name the entries with --entry (candidates: " +
                           (candidates.empty() ? std::string("none") : Planner::join(candidates)) + ")");
    }
    for (const auto& o : unit.scopes) {
        auto it = facts.functions.find(o.entry);
        if (it == facts.functions.end() || !(it->second.defined || it->second.environment))
            throw BadInput(o.loc.str() + ": scope " + o.entry + " names no function the unit defines" +
                           Planner::suggestion(o.entry, all_defined));
    }
    if (!unit.environment_init.empty()) {
        auto it = facts.functions.find(unit.environment_init);
        if (it == facts.functions.end() || !it->second.environment)
            throw BadInput(unit.locate(unit.environment_init).str() + ": environment init " + unit.environment_init +
                           " is no function of an environment source");
    }

    // IDs: pinned by the unit file, else remembered by the map, else new.
    gen.map_path = !options.map.empty() ? options.map
                   : !unit.map.empty() ? unit.map
                   : !unit.path.empty()
                       ? (fs::path(unit.dir) / (stem_of(unit.path) + ".kivmap.json")).string()
                       : (fs::path(options.out_dir) / (gen.name + ".kivmap.json")).string();
    IdMap map = read_map(gen.map_path);
    Planner planner(unit, facts, gen);
    planner.plan(entries);
    check_names(unit, facts, planner.scopes);
    for (auto& s : planner.scopes) {
        const ScopeOverride* o = nullptr;
        for (const auto& x : unit.scopes)
            if (x.entry == s.entry) o = &x;
        s.uid = map.assign(map.scopes, s.name, o ? o->uid : 0,
                           o && o->uid ? o->loc.str() : unit.path.empty() ? gen.map_path : unit.path);
    }
    for (auto& s : planner.scopes)
        for (auto& v : s.vars)
            if (v.in) {
                v.id = map.assign(map.inputs, s.name + "." + v.name, v.id,
                                  unit.path.empty() ? gen.map_path : unit.locate(v.name).str());
                gen.inputs.push_back(std::to_string(v.id) + " " + s.name + "." + v.name + " (" + v.type + ")");
            }

    // Instrumented sources, their records and sites, and the goals over them.
    std::set<int> pinned;
    for (const auto& [f, n] : unit.units) pinned.insert(n);
    int next_tu = 1;
    std::vector<std::string> record_tables;
    std::map<std::string, std::map<std::string, kivinst::ProvenGoal>> unreachable;  // record -> flag -> its proof
    // record -> flag -> steps no step reached it in, and why the proof left it open
    std::map<std::string, std::pair<std::map<std::string, unsigned>, std::string>> open;
    // The behaviour prover steps every scope, and its first-step
    // initialisation, from any state; the harness writes its inputs.
    kivinst::prove::Options behaviour;
    behaviour.seconds = options.prove_seconds;
    behaviour.unseen = unseen_elsewhere(facts);
    for (const auto& s : planner.scopes) {
        behaviour.entries.push_back(s.entry);
        if (s.init != "kiv_no_init") behaviour.entries.push_back(s.init), ++behaviour.once;
        for (const auto& v : s.vars)
            if (v.in)
                for (const std::string* where : {&v.name, &v.direct, &v.glue_expr}) {
                    static const std::regex root(R"([A-Za-z_]\w*)");
                    if (std::smatch m; std::regex_search(*where, m, root)) behaviour.written.insert(m.str());
                }
    }
    CatalogInput catalog;
    std::ostringstream records;
    records << banner("Every probe record of the unit, one table per translation unit.")
            << "#define IXA_RECORD_KEEP\n";
    const fs::path tmp_tables = fs::temp_directory_path() / ("kivinst-goals-" + std::to_string(::getpid()));
    fs::create_directories(tmp_tables);
    struct Cleanup {
        fs::path p;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } cleanup{tmp_tables};
    for (const auto& src : options.sources) {
        const std::string stem = stem_of(src);
        int number;
        if (auto it = unit.units.find(fs::path(src).filename().string()); it != unit.units.end()) {
            number = it->second;
        } else {
            while (pinned.count(next_tu)) ++next_tu;
            number = next_tu++;
        }
        kivinst::Options io;
        io.unit = number;
        io.source = src;
        io.records_include = "unit/" + stem + "_records.def";
        io.compiler_args = gen.compiler_args;
        io.root = options.root;
        io.prove = behaviour;
        kivinst::Output out;
        if (!kivinst::instrument(io, out)) throw BadInput(src + " does not parse; nothing written");
        gen.opened.insert(out.opened.begin(), out.opened.end());
        if (!out.proof.complete)
            gen.warnings.push_back("kivinst harness: note: " + src + ": the behaviour proof found nothing: " +
                                   out.proof.why_not);
        const std::string invariant = "at every step start " + out.proof.invariant + "; " + kivinst::kBehaviourAssumes;
        for (const auto& r : out.records)
            for (const auto& [flag, why] : r.unreachable) {
                const bool step = r.by_behaviour.count(flag) != 0;
                unreachable[r.name][flag] = {0, r.name, flag, why, step ? kivinst::kBehaviourMethod : kivinst::kRangeMethod,
                                             step ? invariant : kivinst::kRangeProof};
            }
        catalog.records.insert(catalog.records.end(), out.records.begin(), out.records.end());
        for (std::size_t i = 0; i < out.records.size(); ++i) {
            const auto bounds = out.proof.not_within.find(i);
            open[out.records[i].name] = {bounds == out.proof.not_within.end() ? std::map<std::string, unsigned>{} : bounds->second,
                                         out.proof.complete ? "the invariant at every step start allows it"
                                                            : "the behaviour proof stopped: " + out.proof.why_not};
        }
        gen.files["unit/" + stem + ".c"] = out.source;
        const std::string table = kivinst::records_def(io, out.records);
        gen.files["unit/" + stem + "_records.def"] = table;
        gen.files["unit/" + stem + "_sites.json"] = kivinst::sites_json(io, out.records);
        const fs::path tp = tmp_tables / (stem + "_records.def");
        std::ofstream(tp) << table;
        std::ofstream(tmp_tables / (stem + "_sites.json")) << gen.files["unit/" + stem + "_sites.json"];
        record_tables.push_back(tp.string());
        records << "#include \"unit/" << stem << "_records.def\"\n";
    }
    records << "#undef IXA_RECORD_KEEP\n#undef IXA_RECORD\n";
    gen.files["unit/records.def"] = records.str();

    kivinst::GoalOptions go;
    go.first = 1;
    go.skipped_functions.insert(unit.skip_functions.begin(), unit.skip_functions.end());
    go.tables = record_tables;
    kivinst::Proposal proposal;
    try {
        proposal = kivinst::propose_goals(go);
    } catch (const kivinst::TableError& e) {
        throw BadInput(std::string("goal table: ") + e.what());
    }
    const std::string& goals = proposal.table;
    if (!proposal.unproposed.empty())
        gen.warnings.push_back("kivinst harness: note: " + std::to_string(proposal.unproposed.size()) +
                               " records of a kind that gets no goal (division by zero) have none; see unit/goals.def");
    gen.files["unit/goals.def"] = goals;
    std::vector<std::pair<int, int>> goal_ids;  // id, goal number
    std::vector<kivinst::ProvenGoal> proven;
    static const std::regex row(R"(KIV_GOAL\((\d+), (\w+), (\w+), \w+\))");
    std::vector<kivinst::prove::OpenGoal> unproven;
    for (std::sregex_iterator it(goals.begin(), goals.end(), row), end; it != end; ++it) {
        const int n = std::stoi((*it)[1]);
        catalog.goals.push_back({n, (*it)[2].str(), (*it)[3].str()});
        const std::string record = (*it)[2].str(), flag = (*it)[3].str();
        const kivinst::ProvenGoal* proof = nullptr;
        if (const auto r = unreachable.find(record); r != unreachable.end())
            if (const auto f = r->second.find(flag); f != r->second.end()) proof = &f->second;
        if (proof) {
            proven.push_back(*proof);
            proven.back().goal = n;
        } else {
            const auto& [bounds, why] = open[record];
            const auto b = bounds.find(flag);
            unproven.push_back({n, record, flag, b == bounds.end() ? 0u : b->second,
                                b == bounds.end() && why.rfind("the invariant", 0) == 0
                                    ? "the behaviour proof does not observe this probe"
                                    : why});
        }
        const int id = map.assign(map.goals, (*it)[2].str() + "." + (*it)[3].str(), 0, gen.map_path);
        goal_ids.push_back({id, n});
    }
    gen.map_text = map_json(map);
    // Beside the unit set, numbered as its goals: a kivrun --justify file.
    gen.files[gen.name + ".proven.justify.csv"] = kivinst::proven_justification(proven);
    gen.files[gen.name + ".unproven.csv"] = kivinst::prove::open_goals_csv(unproven);
    gen.warnings.push_back("kivinst harness: note: " + gen.name + ": " +
                           kivinst::prove::open_goals_summary(unproven, proven.size()) + " (" + gen.name + ".unproven.csv)");

    // The tables.
    std::ostringstream scopes, vars, ids, unit_h, glue_c;
    scopes << banner("The scopes of " + gen.name + ": KIV_SCOPE(uid, name, step, unit, init).")
           << "#ifndef KIV_SCOPE\n#error \"define KIV_SCOPE(uid, name, step, unit, init) before including this file\"\n#endif\n\n";
    bool follows = false;
    for (const auto& s : planner.scopes)
        for (const auto& v : s.vars) follows = follows || v.follows;
    vars << banner("The harness variables of " + gen.name + ": KIV_HAUX(n, scope uid, " +
                   (follows ? "IN, INOUT" : "IN") + " or OUT, type, unit variable, name).\n// Rows of a scope stand in copy order, inputs first." +
                   (follows ? "\n// An INOUT input takes its unit variable's value after every step of any scope." : ""))
         << "#ifndef KIV_HAUX\n#define KIV_HAUX(n, scope, direction, type, unit_variable, name)\n#endif\n";
    std::vector<std::tuple<int, int, std::string>> input_ids;
    for (const auto& s : planner.scopes) {
        scopes << "KIV_SCOPE(" << s.uid << ", \"" << s.name << "\", " << s.step << ", " << s.unit << ", " << s.init
               << ")\n";
        vars << "\n";
        for (const auto& v : s.vars) {
            vars << "KIV_HAUX(" << v.n << ", " << s.uid << ", " << (!v.in ? "OUT" : v.follows ? "INOUT" : "IN") << ", " << v.type << ", "
                 << v.direct << ", \"" << v.name << "\")\n";
            if (v.in) input_ids.push_back({v.id, v.n, v.setter});
        }
    }
    scopes << "\n#undef KIV_SCOPE\n";
    vars << "\n#undef KIV_HAUX\n";
    std::sort(input_ids.begin(), input_ids.end());
    std::sort(goal_ids.begin(), goal_ids.end());
    ids << banner("The variable IDs of " + gen.name +
                  ": KIV_INPUT_ID(id, n, setter) for input kiv_haux<n>,\n// KIV_GOAL_ID(id, n) for goal flag KIV_G<n>. "
                  "IDs are kept in " + fs::path(gen.map_path).filename().string() + ".")
        << "#ifndef KIV_INPUT_ID\n#define KIV_INPUT_ID(id, n, setter)\n#endif\n"
        << "#ifndef KIV_GOAL_ID\n#define KIV_GOAL_ID(id, n)\n#endif\n\n";
    for (const auto& [id, n, setter] : input_ids) ids << "KIV_INPUT_ID(" << id << ", " << n << ", " << setter << ")\n";
    ids << "\n";
    for (const auto& [id, n] : goal_ids) ids << "KIV_GOAL_ID(" << id << ", " << n << ")\n";
    ids << "\n#undef KIV_INPUT_ID\n#undef KIV_GOAL_ID\n";

    planner.glue.declare("void kiv_no_init(void);");
    if (!planner.pre_step.empty()) planner.glue.declare("void kiv_unit_pre_step(void);");
    if (!unit.environment_init.empty()) planner.glue.declare("void " + unit.environment_init + "(void);");
    unit_h << banner("What the runtime's frames need of " + gen.name +
                     ": the scope functions and the variables\n// the harness variables are copied from and to.")
           << "#pragma once\n\n#include <stdint.h>\n#ifndef __cplusplus\n#include <stdbool.h>\n#endif\n\n"
           << "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
    for (const auto& d : planner.glue.header) unit_h << d << "\n";
    unit_h << "\n#ifdef __cplusplus\n}\n#endif\n";
    if (!unit.environment_init.empty())
        unit_h << "\n#define KIV_UNIT_ENVIRONMENT_INIT() " << unit.environment_init << "()\n";
    if (!unit.init_per_scope)
        unit_h << "\n// Entries share state as in the product: every init runs once per case,\n"
               << "// before the first step of any scope.\n#define KIV_UNIT_INIT_ONCE_PER_CASE 1\n";
    // One function, not a macro every scope's frame expands: the frames
    // would hold scopes times stubs statements.
    if (!planner.pre_step.empty()) unit_h << "\n// Stub call counts are per step.\n#define KIV_UNIT_PRE_STEP() kiv_unit_pre_step()\n";
    if (!planner.bitfields.empty()) {
        unit_h << "\n#ifdef __cplusplus\n// A bit-field has no address: the frames read and write it through the glue.\n"
               << "template <class T, T (*Get)(void), void (*Set)(T)>\nstruct kiv_bitfield {\n"
               << "    operator T() const { return Get(); }\n    void operator=(T v) const { Set(v); }\n};\n";
        for (const auto& b : planner.bitfields) unit_h << b << "\n";
        unit_h << "#endif\n";
    }
    glue_c << "/* The glue of " << gen.name
           << " that belongs to no translation unit. Written by kivinst harness. */\n"
           << "#include \"unit/unit.h\"\n\n/* Scopes without an initialisation of their own start from the state at load. */\n"
           << "void kiv_no_init(void)\n{\n}\n" << planner.env_wrappers;
    if (!planner.pre_step.empty() || planner.buffers) glue_c << buffer_runtime();
    if (!planner.pre_step.empty()) {
        glue_c << "\n";
        for (const auto& c : planner.pre_step) glue_c << "void " << c << "(void);\n";
        glue_c << "\nvoid kiv_unit_pre_step(void)\n{\n    " << kCallOrder << " = 0;\n";
        for (const auto& c : planner.pre_step) glue_c << "    " << c << "();\n";
        glue_c << "}\n";
    }
    catalog.scopes = &planner.scopes;
    catalog.goal_ids = goal_ids;
    for (const auto& src : options.sources) {
        const std::string sites = "unit/" + stem_of(src) + "_sites.json";
        catalog.sites.push_back({sites, gen.files[sites]});
    }
    gen.files["unit/catalog.json"] = catalog_text(catalog);
    gen.files["unit/scopes.def"] = scopes.str();
    gen.files["unit/harness_variables.def"] = vars.str();
    gen.files["unit/harness_ids.def"] = ids.str();
    gen.files["unit/enums.def"] = enums_def(gen.name, planner.scopes);
    gen.files["unit/unit.h"] = unit_h.str();
    gen.files["unit/glue.c"] = glue_c.str();
    for (const auto& src : options.sources) {
        const std::string stem = stem_of(src);
        std::ostringstream g;
        g << "// Harness glue of " << src << ", written by kivinst harness: compiled in place of\n"
          << "// the instrumented unit, so it sees the unit's types and file-scope variables.\n"
          << "#include \"unit/" << stem << ".c\"\n\n#include <stdint.h>\n#include <stdbool.h>\n";
        auto it = planner.glue.per_tu.find(src);
        if (it != planner.glue.per_tu.end()) g << it->second.str();
        gen.files["unit/" + stem + "_glue.c"] = g.str();
    }
    return gen;
}

}  // namespace kivinst::harness
