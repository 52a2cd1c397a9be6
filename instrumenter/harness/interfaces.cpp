// kivinst harness: stubs that answer per call and buffers with guard bytes,
// as glue text and the harness variables over it (see interfaces.h).
#include "interfaces.h"

#include <sstream>

namespace kivinst::harness {

namespace {

constexpr int kGuardBytes = 16;

std::string nth(const std::string& shown, int k) {
    return shown + "#" + std::to_string(k);
}

// The elements a pointer parameter's call passes: its length parameter's
// value held to [0, capacity], or the capacity when it has none.
std::string element_count(const Function& f, const Param& p, int capacity) {
    if (p.length < 0) return std::to_string(capacity);
    const Param& n = f.params[static_cast<std::size_t>(p.length)];
    return held_length(n.name, n.leaves[0].type, capacity);
}

}  // namespace

std::string held_length(const std::string& value, const std::string& type, int capacity) {
    const std::string cap = std::to_string(capacity);
    const bool is_signed = type.rfind("int", 0) == 0;
    return std::string("(") + (is_signed ? "(" + value + ") <= 0 ? 0 : " : "") + "(uint64_t)(" + value + ") < " + cap +
           " ? (uint64_t)(" + value + ") : " + cap + ")";
}

Variable on_glue_scalar(const std::string& var, const std::string& type, const std::string& name, bool in) {
    Variable v;
    v.name = name;
    v.in = in;
    v.type = type;
    v.direct = var;
    v.direct_decl = "extern " + type + " " + var + ";";
    return v;
}

Variable on_glue_storage(const std::string& tu, const std::string& expr, const std::string& type,
                         const std::string& name, bool in) {
    Variable v;
    v.name = name;
    v.in = in;
    v.type = type;
    v.glue_tu = tu;
    v.glue_expr = expr;
    return v;
}

std::string leaf_access(const std::string& base, const Leaf& leaf) {
    if (leaf.union_byte < 0) return base + leaf.path;
    return "((unsigned char*)&(" + base + leaf.union_path + "))[" + std::to_string(leaf.union_byte) + "]";
}

Variable on_leaf(const std::string& tu, const std::string& base, const Leaf& leaf, const std::string& name, bool in) {
    Variable v = on_glue_storage(tu, leaf_access(base, leaf), leaf.type, name, in);
    v.bitfield = leaf.bitfield;
    if (leaf.union_byte < 0) v.enumerators = leaf.enumerators;
    return v;
}

Variable with_enums(Variable v, const Leaf& leaf) {
    v.enumerators = leaf.enumerators;
    return v;
}

StubPieces write_stub(const Function& f, const StubShape& s) {
    StubPieces out;
    const std::string& tu = f.tu;
    const std::string id = s.key;
    const int calls = s.calls >= 2 ? s.calls : 0;
    const int history = s.history;
    std::ostringstream storage, body, per_call, reset;
    storage << "\n/* Stub of " << s.shown << ": "
            << (f.return_type == "void" ? std::string("")
                                        : std::string("its results are harness inputs") +
                                              (calls ? " per call (the last repeating)" : s.keys ? " by argument" : "") + "; ")
            << "its arguments, per call, and its calls in this step are outputs. */\n"
            << "extern uint32_t " << kCallOrder << ";\n";
    const std::string count = "kiv_calls_" + id;
    storage << "uint32_t " << count << ";\n";
    out.out.push_back(on_glue_scalar(count, "uint32_t", s.shown + ".calls", false));
    body << "    const uint32_t kiv_k = ++" << count << ";\n    const uint32_t kiv_o = ++" << kCallOrder << ";\n";
    if (calls) body << "    const uint32_t kiv_at = kiv_k < " << calls << "u ? kiv_k - 1 : " << calls - 1 << "u;\n";
    if (history) {
        const std::string order = "kiv_order_" + id;
        storage << "uint32_t " << order << "[" << history << "];\n";
        per_call << "        " << order << "[kiv_k - 1] = kiv_o;\n";
        reset << "        " << order << "[i] = 0;\n";
        for (int k = 1; k <= history; ++k)
            out.out.push_back(on_glue_storage(tu, order + "[" + std::to_string(k - 1) + "]", "uint32_t",
                                              nth(s.shown, k) + ".order", false));
    } else {
        body << "    (void)kiv_o;\n";
        if (!calls) body << "    (void)kiv_k;\n";
    }
    auto note = [&](const Param& p, const std::string& what) {
        out.notes.push_back({p.loc, what + "; define " + s.shown + " in an environment source to observe it"});
    };
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        const Param& p = f.params[i];
        const std::string arg = "kiv_arg_" + id + "_" + p.name;
        const std::string res = "kiv_out_" + id + "_" + p.name;
        const std::string shown = s.shown + "." + p.name;
        switch (p.kind) {
            case ParamKind::Scalar: {
                const std::string& t = p.leaves[0].type;
                storage << t << " " << arg << ";\n";
                body << "    " << arg << " = " << p.name << ";\n";
                out.out.push_back(with_enums(on_glue_scalar(arg, t, shown, false), p.leaves[0]));
                if (!history) break;
                const std::string h = "kiv_hist_" + id + "_" + p.name;
                storage << t << " " << h << "[" << history << "];\n";
                per_call << "        " << h << "[kiv_k - 1] = " << p.name << ";\n";
                reset << "        " << h << "[i] = 0;\n";
                for (int k = 1; k <= history; ++k)
                    out.out.push_back(with_enums(on_glue_storage(tu, h + "[" + std::to_string(k - 1) + "]", t,
                                                                 nth(s.shown, k) + "." + p.name, false),
                                                 p.leaves[0]));
                break;
            }
            case ParamKind::Struct:
                storage << "static " << p.decl_type << " " << arg << ";\n";
                body << "    " << arg << " = " << p.name << ";\n";
                for (const Leaf& l : p.leaves) out.out.push_back(on_leaf(tu, arg, l, shown + l.path, false));
                break;
            case ParamKind::PointerToScalar:
                if (p.pointee_const) {
                    // What the unit hands over is observed, as an argument.
                    storage << p.leaves[0].type << " " << arg << ";\n";
                    body << "    if (" << p.name << ") " << arg << " = (" << p.leaves[0].type << ")*" << p.name << ";\n";
                    out.out.push_back(with_enums(on_glue_scalar(arg, p.leaves[0].type, shown, false), p.leaves[0]));
                } else if (calls) {
                    storage << "static " << p.pointee << " " << res << "[" << calls << "];\n";
                    body << "    if (" << p.name << ") *" << p.name << " = " << res << "[kiv_at];\n";
                    for (int k = 1; k <= calls; ++k)
                        out.in.push_back(with_enums(on_glue_storage(tu, res + "[" + std::to_string(k - 1) + "]",
                                                                    p.leaves[0].type, nth(s.shown, k) + "." + p.name, true),
                                                    p.leaves[0]));
                } else {
                    storage << "static " << p.pointee << " " << res << ";\n";
                    body << "    if (" << p.name << ") *" << p.name << " = " << res << ";\n";
                    out.in.push_back(with_enums(on_glue_storage(tu, res, p.leaves[0].type, shown, true), p.leaves[0]));
                }
                break;
            case ParamKind::PointerToStruct:
                if (p.pointee_const) {
                    note(p, "what argument " + p.name + " of " + s.shown + " points to is not observed (a pointer to const)");
                    break;
                }
                if (!s.fills_objects) {
                    note(p, "what argument " + p.name + " of " + s.shown +
                                " points to is the unit's own object, left as the unit keeps it");
                    break;
                }
                // Member by member: what no variable carries (a pointer, a
                // callback) keeps what the unit put there.
                storage << "static " << p.pointee << " " << res << ";\n";
                body << "    if (" << p.name << ") {\n";
                for (const Leaf& l : p.leaves)
                    body << "        " << leaf_access("(*" + p.name + ")", l) << " = " << leaf_access(res, l) << ";\n";
                body << "    }\n";
                for (const Leaf& l : p.leaves)
                    out.in.push_back(on_leaf(tu, res, l, s.shown + "." + p.name + "->" + l.path.substr(l.path[0] == '.'), true));
                break;
            case ParamKind::Buffer: {
                const auto c = s.capacity.find(static_cast<int>(i));
                const int cap = c == s.capacity.end() ? kDefaultCapacity : c->second;
                const std::string& e = p.element;
                const std::string n = element_count(f, p, cap);
                if (p.pointee_const) {
                    // The elements of the last call; those beyond its length read 0.
                    storage << e << " " << arg << "[" << cap << "];\n";
                    body << "    for (uint64_t i = 0; i < " << cap << "; ++i) " << arg << "[i] = " << p.name
                         << " && i < " << n << " ? ((const " << e << "*)" << p.name << ")[i] : 0;\n";
                    for (int k = 0; k < cap; ++k)
                        out.out.push_back(on_glue_storage(tu, arg + "[" + std::to_string(k) + "]", e,
                                                          shown + "[" + std::to_string(k) + "]", false));
                } else {
                    // Filled up to the length the caller passed, never beyond;
                    // a stub answering per call fills per call.
                    const int sets = calls ? calls : 1;
                    storage << "static " << e << " " << res << "[" << sets << "][" << cap << "];\n";
                    body << "    if (" << p.name << ") for (uint64_t i = 0; i < " << n << "; ++i) ((" << e << "*)"
                         << p.name << ")[i] = " << res << "[" << (calls ? "kiv_at" : "0") << "][i];\n";
                    for (int c = 0; c < sets; ++c)
                        for (int k = 0; k < cap; ++k)
                            out.in.push_back(on_glue_storage(
                                tu, res + "[" + std::to_string(c) + "][" + std::to_string(k) + "]", e,
                                (calls ? nth(s.shown, c + 1) + "." + p.name : shown) + "[" + std::to_string(k) + "]", true));
                }
                break;
            }
            case ParamKind::Callback:
            case ParamKind::Other:
                note(p, "argument " + p.name + " of " + s.shown + " is " +
                            (p.kind == ParamKind::Callback ? std::string("a function pointer") : p.why) +
                            " and not observed");
                break;
        }
    }
    if (f.variadic)
        out.notes.push_back({f.loc, "the variable arguments of " + s.shown + " are not observed; define " + s.shown +
                                        " in an environment source to observe them"});
    std::string result;
    if (f.return_type != "void") {
        const std::string r = "kiv_res_" + id;
        if (f.return_leaves.size() == 1 && f.return_leaves[0].path.empty()) {
            const std::string& t = f.return_leaves[0].type;
            if (calls) {
                storage << "static " << f.return_type << " " << r << "[" << calls << "];\n";
                for (int k = 1; k <= calls; ++k)
                    out.in.push_back(with_enums(on_glue_storage(tu, r + "[" + std::to_string(k - 1) + "]", t, nth(s.shown, k), true),
                                                f.return_leaves[0]));
                result = r + "[kiv_at]";
            } else {
                storage << t << " " << r << ";\n";
                out.in.push_back(with_enums(on_glue_scalar(r, t, s.shown, true), f.return_leaves[0]));
                result = r;
            }
            if (s.keys) {
                const std::string keyed = "kiv_keyed_" + id;
                const std::string& key = f.params[static_cast<std::size_t>(s.key_param)].name;
                storage << "static " << f.return_type << " " << keyed << "[" << s.keys << "];\n";
                for (int v = 0; v < s.keys; ++v)
                    out.in.push_back(with_enums(on_glue_storage(tu, keyed + "[" + std::to_string(v) + "]", t,
                                                                s.shown + "(" + std::to_string(v) + ")", true),
                                                f.return_leaves[0]));
                result = "(uint64_t)(" + key + ") < " + std::to_string(s.keys) + "u ? " + keyed + "[" + key + "] : " + r;
            }
        } else {
            storage << "static " << f.return_type << " " << r << ";\n";
            for (const Leaf& l : f.return_leaves) out.in.push_back(on_leaf(tu, r, l, s.shown + l.path, true));
            if (f.return_leaves.empty())
                out.notes.push_back({f.loc, "the result of " + s.shown + " is " + f.return_why +
                                                "; the stub returns zero. Define " + s.shown +
                                                " in an environment source to feed it"});
            result = r;
        }
    }
    const std::string reset_fn = "kiv_reset_" + id;
    out.resets.push_back(reset_fn);
    std::ostringstream text;
    text << storage.str() << "void " << reset_fn << "(void)\n{\n";
    // Only the calls the last step made left anything to clear.
    if (history)
        text << "    for (uint32_t i = 0; i < " << count << " && i < " << history << "u; ++i) {\n" << reset.str() << "    }\n";
    text << "    " << count << " = 0;\n}\n" << f.declaration << "\n{\n" << body.str();
    if (history) text << "    if (kiv_k <= " << history << "u) {\n" << per_call.str() << "    }\n";
    if (!result.empty()) text << "    return " << result << ";\n";
    text << "}\n";
    out.text = text.str();
    return out;
}

BufferPieces write_buffer(const std::string& tu, const std::string& entry, const Param& p, int capacity,
                          const std::string& given) {
    BufferPieces b;
    const std::string var = "kiv_buf_" + entry + "_" + p.name;
    const std::string element = p.pointee.empty() || p.pointee == "void" ? "uint8_t" : p.pointee;
    const std::string shown = "\"" + p.name + " of " + entry + "\"";
    b.storage = "void kiv_check_guard(const unsigned char* guard, unsigned size, const char* buffer, unsigned capacity);\n"
                "static struct {\n    " + element + " data[" + std::to_string(capacity) +
                "];\n    unsigned char guard[" + std::to_string(kGuardBytes) + "]; /* a write here is past the end */\n} " +
                var + ";\n";
    b.argument = var + ".data";
    b.before = "    for (unsigned i = 0; i < " + std::to_string(kGuardBytes) + "; ++i) " + var + ".guard[i] = 0xA5;\n";
    b.after = "    kiv_check_guard(" + var + ".guard, " + std::to_string(kGuardBytes) + ", " + shown + ", " +
              std::to_string(capacity) + ");\n";
    if (!p.pointee_const && !given.empty()) {
        // The unit was told it has fewer elements than the harness holds: the
        // bytes past what it was told are kept, turned into guard bytes for
        // the call, checked and given back after it.
        const std::string at = var + "_given", kept = var + "_kept";
        const std::string tail = "(unsigned char*)" + var + ".data + " + at + " * sizeof " + var + ".data[0]";
        const std::string size = "sizeof " + var + ".data - " + at + " * sizeof " + var + ".data[0]";
        b.storage += "void kiv_keep(unsigned char* kept, unsigned char* from, uint64_t size);\n"
                     "void kiv_check_kept(const unsigned char* kept, unsigned char* from, uint64_t size, "
                     "const char* buffer, uint64_t given);\n"
                     "static uint64_t " + at + ";\nstatic unsigned char " + kept + "[sizeof " + var + ".data];\n";
        b.before += "    " + at + " = " + given + ";\n    kiv_keep(" + kept + ", " + tail + ", " + size + ");\n";
        b.after += "    kiv_check_kept(" + kept + ", " + tail + ", " + size + ", " + shown + ", " + at + ");\n";
    }
    for (int k = 0; k < capacity; ++k) {
        const std::string at = var + ".data[" + std::to_string(k) + "]";
        const std::string name = p.name + "[" + std::to_string(k) + "]";
        if (p.element.empty()) {
            // Structs, member by member.
            for (const Leaf& l : p.leaves) {
                b.in.push_back(on_leaf(tu, at, l, name + l.path, true));
                if (!p.pointee_const) b.out.push_back(on_leaf(tu, at, l, name + l.path, false));
            }
            continue;
        }
        b.in.push_back(on_glue_storage(tu, at, p.element, name, true));
        if (!p.pointee_const) b.out.push_back(on_glue_storage(tu, at, p.element, name, false));
    }
    return b;
}

GuardedObject guard_object(const std::string& var, const std::string& type, const std::string& shown) {
    GuardedObject g;
    const std::string guard = std::to_string(kGuardBytes);
    g.storage = "void kiv_check_guard(const unsigned char* guard, unsigned size, const char* buffer, unsigned capacity);\n"
                "static struct {\n    " + type + " o;\n    unsigned char guard[" + guard +
                "]; /* a write here is past the object */\n} " + var + ";\n";
    g.lvalue = var + ".o";
    g.before = "    for (unsigned i = 0; i < " + guard + "; ++i) " + var + ".guard[i] = 0xA5;\n";
    g.after = "    kiv_check_guard(" + var + ".guard, " + guard + ", \"" + shown + "\", 1);\n";
    return g;
}

std::string buffer_runtime() {
    return std::string("\n#include <stdio.h>\n#include <stdlib.h>\n\n/* Stub calls in this step, across stubs: "
                       "each call's order. */\nuint32_t ") +
           kCallOrder +
           ";\n\n/* A buffer's guard bytes changed: the unit wrote past the end of what the harness gave it. The\n"
           " * step must not pass, and what lies beyond is the harness's own memory: the process ends. */\n"
           "void kiv_check_guard(const unsigned char* guard, unsigned size, const char* buffer, unsigned capacity);\n"
           "void kiv_check_guard(const unsigned char* guard, unsigned size, const char* buffer, unsigned capacity)\n{\n"
           "    for (unsigned i = 0; i < size; ++i)\n        if (guard[i] != 0xA5) {\n"
           "            fprintf(stderr, \"kivharness: buffer %s: the unit wrote past its end (capacity %u element%s)\\n\",\n"
           "                    buffer, capacity, capacity == 1 ? \"\" : \"s\");\n            fflush(stderr);\n"
           "            abort();\n        }\n}\n\n"
           "/* The elements of a buffer past the length the unit was given are guard bytes for the call (a\n"
           " * write of the value they held would go unseen), their values kept and given back after it: a\n"
           " * change is a write past that length, which a unit trusting its caller's length must never make. */\n"
           "void kiv_keep(unsigned char* kept, unsigned char* from, uint64_t size);\n"
           "void kiv_keep(unsigned char* kept, unsigned char* from, uint64_t size)\n{\n"
           "    for (uint64_t i = 0; i < size; ++i) {\n        kept[i] = from[i];\n        from[i] = 0xA5;\n    }\n}\n\n"
           "void kiv_check_kept(const unsigned char* kept, unsigned char* from, uint64_t size, const char* buffer,\n"
           "                    uint64_t given);\n"
           "void kiv_check_kept(const unsigned char* kept, unsigned char* from, uint64_t size, const char* buffer,\n"
           "                    uint64_t given)\n{\n"
           "    for (uint64_t i = 0; i < size; ++i) {\n        if (from[i] != 0xA5) {\n"
           "            fprintf(stderr, \"kivharness: buffer %s: the unit wrote past the length it was given \"\n"
           "                            \"(%llu element%s)\\n\", buffer, (unsigned long long)given, given == 1 ? \"\" : \"s\");\n"
           "            fflush(stderr);\n            abort();\n        }\n        from[i] = kept[i];\n    }\n}\n";
}

}  // namespace kivinst::harness
