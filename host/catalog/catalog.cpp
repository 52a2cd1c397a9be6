// Reading the catalog JSON and the lookups kivrun makes in it.
#include "catalog/catalog.h"

#include "error.h"
#include "identity/identity.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <fstream>
#include <sstream>
#include <string_view>
#include <set>

namespace kiv {

const CatalogScope* Catalog::scope(int32_t uid) const {
    for (const auto& s : scopes)
        if (s.uid == uid) return &s;
    return nullptr;
}

const CatalogGoal* Catalog::goal(int32_t id) const {
    for (const auto& g : goals)
        if (g.id == id) return &g;
    return nullptr;
}

const CatalogRecord* Catalog::record(const std::string& name) const {
    for (const auto& r : records)
        if (r.record == name) return &r;
    return nullptr;
}

bool Catalog::has_positions() const {
    if (records.empty() || goals.empty()) return false;
    for (const auto& g : goals)
        if (g.file.empty()) return false;
    return true;
}

std::string catalog_path_for(const std::string& library_path) {
    const std::string so = ".so";
    std::string base = library_path;
    if (base.size() >= so.size() && base.compare(base.size() - so.size(), so.size(), so) == 0)
        base.resize(base.size() - so.size());
    return base + ".catalog.json";
}

int64_t ValueType::min_int() const {
    if (floating || !is_signed) return 0;
    return size >= 8 ? INT64_MIN : -(int64_t{1} << (size * 8 - 1));
}

uint64_t ValueType::max_uint() const {
    if (boolean) return 1;
    if (is_signed) return size >= 8 ? uint64_t{INT64_MAX} : (uint64_t{1} << (size * 8 - 1)) - 1;
    return size >= 8 ? UINT64_MAX : (uint64_t{1} << (size * 8)) - 1;
}

double ValueType::min_float() const {
    if (!floating) return static_cast<double>(min_int());
    return size == 4 ? -static_cast<double>(std::numeric_limits<float>::max()) : -std::numeric_limits<double>::max();
}

double ValueType::max_float() const {
    if (!floating) return static_cast<double>(max_uint());
    return size == 4 ? static_cast<double>(std::numeric_limits<float>::max()) : std::numeric_limits<double>::max();
}

std::optional<ValueType> value_type_named(const std::string& name) {
    struct Row {
        const char* name;
        int size;
        bool is_signed, floating, boolean;
    };
    // The spellings a unit's table may use: fixed-width types, the plain C
    // integer types as on this host (LP64), bool and the floating types.
    static const Row kRows[] = {
        {"uint8_t", 1, false, false, false},        {"int8_t", 1, true, false, false},
        {"uint16_t", 2, false, false, false},       {"int16_t", 2, true, false, false},
        {"uint32_t", 4, false, false, false},       {"int32_t", 4, true, false, false},
        {"uint64_t", 8, false, false, false},       {"int64_t", 8, true, false, false},
        {"bool", 1, false, false, true},            {"_Bool", 1, false, false, true},
        {"char", 1, true, false, false},            {"signed char", 1, true, false, false},
        {"unsigned char", 1, false, false, false},  {"short", 2, true, false, false},
        {"unsigned short", 2, false, false, false}, {"int", 4, true, false, false},
        {"unsigned", 4, false, false, false},       {"unsigned int", 4, false, false, false},
        {"long", 8, true, false, false},            {"unsigned long", 8, false, false, false},
        {"long long", 8, true, false, false},       {"unsigned long long", 8, false, false, false},
        {"float", 4, true, true, false},            {"double", 8, true, true, false},
    };
    for (const auto& r : kRows)
        if (name == r.name) return ValueType{r.name, r.size, r.is_signed, r.floating, r.boolean};
    return std::nullopt;
}

namespace {

int64_t constant_field(const nlohmann::json& value, const std::string& where);

// A variable's type; absent in catalogs written before types were recorded.
ValueType type_field(const nlohmann::json& object, const std::string& where) {
    if (!object.contains("type")) return ValueType{};
    const auto& value = object["type"];
    if (!value.is_string()) throw std::runtime_error(where + ".type: expected a type name, got " + value.dump());
    auto type = value_type_named(value.get<std::string>());
    if (!type) throw std::runtime_error(where + ".type: unknown type '" + value.get<std::string>() + "'");
    if (object.contains("enumerators")) {
        const auto& list = object["enumerators"];
        if (!list.is_array()) throw std::runtime_error(where + ".enumerators: expected an array, got " + list.dump());
        for (const auto& e : list) {
            if (!e.is_object() || !e.contains("name") || !e["name"].is_string() || e["name"].get<std::string>().empty() ||
                !e.contains("value"))
                throw std::runtime_error(where + ".enumerators: expected {\"name\": ..., \"value\": ...}, got " + e.dump());
            type->enumerators.push_back({e["name"].get<std::string>(), constant_field(e["value"], where + ".enumerators")});
        }
    }
    return *type;
}

Setter setter_named(const std::string& s) {
    if (s == "plain") return Setter::plain;
    if (s == "boolean") return Setter::boolean;
    throw std::runtime_error("unknown setter kind '" + s + "'");
}

// An integer field, checked for type and range: nlohmann would otherwise read
// `true` as 1, wrap 4294967297 to 1 and convert 1e10 with undefined result.
// `where` names the object ("scopes[2]") for the error.
int32_t int_field(const nlohmann::json& value, const std::string& where) {
    if (!value.is_number_integer()) throw std::runtime_error(where + ": expected an integer, got " + value.dump());
    if (value.is_number_unsigned() ? value.get<uint64_t>() > INT32_MAX
                                   : value.get<int64_t>() < INT32_MIN || value.get<int64_t>() > INT32_MAX)
        throw std::runtime_error(where + ": " + value.dump() + " is outside the 32-bit range");
    return static_cast<int32_t>(value.get<int64_t>());
}

// A constant of the unit's comparisons: any signed 64-bit value.
int64_t constant_field(const nlohmann::json& value, const std::string& where) {
    if (!value.is_number_integer()) throw std::runtime_error(where + ": expected an integer, got " + value.dump());
    if (value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX)
        throw std::runtime_error(where + ": " + value.dump() + " is outside the signed 64-bit range");
    return value.get<int64_t>();
}

int32_t int_field(const nlohmann::json& obj, const char* key, const std::string& where) {
    return int_field(obj.at(key), where + "." + key);
}

std::string item(const char* list, std::size_t i) {
    return std::string(list) + "[" + std::to_string(i) + "]";
}

// A source position: a line and column from 1 that fit an int32_t.
int32_t position_value(const nlohmann::json& v, const std::string& what) {
    if (!v.is_number_integer() || v.get<int64_t>() < 1 || v.get<int64_t>() > INT32_MAX)
        throw std::runtime_error("'" + what + "' is not a line or column number");
    return static_cast<int32_t>(v.get<int64_t>());
}
int32_t position(const nlohmann::json& j, const char* key) { return position_value(j.at(key), key); }

// A statement record's lines: [[first, last], ...], each range in order.
std::vector<std::pair<int32_t, int32_t>> line_ranges(const nlohmann::json& r, const std::string& record) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const auto& l : r.at("lines")) {
        if (!l.is_array() || l.size() != 2) throw std::runtime_error("record " + record + ": 'lines' holds no [first, last]");
        const int32_t first = position_value(l[0], "lines"), last = position_value(l[1], "lines");
        if (last < first)
            throw std::runtime_error("record " + record + ": lines " + std::to_string(first) + " to " +
                                     std::to_string(last));
        out.emplace_back(first, last);
    }
    return out;
}

// The optional records table and goal positions, which an older catalog lacks.
// Cross references are checked so a report never places a goal by a wrong row.
void parse_positions(const nlohmann::json& j, Catalog& c) {
    if (!j.contains("records")) return;
    for (const auto& r : j.at("records")) {
        CatalogRecord rec;
        rec.record = r.at("record");
        rec.kind = r.at("kind");
        rec.function = r.at("function");
        rec.unit = r.contains("unit") ? int_field(r, "unit", "records") : 0;
        rec.file = r.at("file");
        rec.line = position(r, "line");
        rec.column = position(r, "column");
        if (r.contains("constants"))
            for (const auto& v : r.at("constants"))
                rec.constants.push_back(constant_field(v, "records." + rec.record + ".constants"));
        rec.decision = r.value("decision", "");
        if (r.contains("conditions")) rec.conditions = r.at("conditions").get<std::vector<std::string>>();
        rec.expression = r.value("expression", "");
        if (r.contains("lines")) rec.lines = line_ranges(r, rec.record);
        if (c.record(rec.record)) throw std::runtime_error("record " + rec.record + " is listed twice");
        c.records.push_back(std::move(rec));
    }
    if (j.contains("constants"))
        for (const auto& v : j.at("constants"))
            c.constants.push_back(constant_field(v, "constants"));
    for (const auto& r : c.records) {
        const CatalogRecord* d = r.decision.empty() ? nullptr : c.record(r.decision);
        if (r.kind == "CC" && (!d || d->kind != "DC"))
            throw std::runtime_error("condition record " + r.record + " names no decision record");
        for (const auto& cond : r.conditions) {
            const CatalogRecord* cc = c.record(cond);
            if (!cc || cc->decision != r.record)
                throw std::runtime_error("decision " + r.record + " lists " + cond + ", not one of its conditions");
        }
    }
    const auto goals = j.at("goals");
    for (std::size_t i = 0; i < c.goals.size(); ++i) {
        CatalogGoal& g = c.goals[i];
        const CatalogRecord* r = c.record(g.record);
        if (!r) throw std::runtime_error("goal " + std::to_string(g.id) + " reads record " + g.record + ", not listed");
        if (!goals[i].contains("file")) continue;
        g.file = goals[i].at("file");
        g.line = position(goals[i], "line");
        g.column = position(goals[i], "column");
        g.decision = goals[i].value("decision", "");
        if (g.file != r->file || g.line != r->line || g.column != r->column || g.decision != r->decision)
            throw std::runtime_error("goal " + std::to_string(g.id) + " is placed elsewhere than its record");
        if (g.field == "hitCount") g.lines = r->lines;
    }
}

Catalog parse(const nlohmann::json& j) {
    Catalog c;
    std::size_t n = 0;
    for (const auto& s : j.at("scopes")) {
        const std::string at = item("scopes", n++);
        std::vector<int32_t> inputs;
        for (const auto& v : s.at("inputs"))
            inputs.push_back(int_field(v, item((at + ".inputs").c_str(), inputs.size())));
        c.scopes.push_back({int_field(s, "uid", at), s.at("name"), s.at("step"), s.at("unit"), s.at("init"),
                            std::move(inputs), s.at("outputs").get<std::vector<std::string>>()});
    }
    n = 0;
    for (const auto& i : j.at("inputs")) {
        const std::string at = item("inputs", n++);
        c.inputs.push_back({int_field(i, "id", at), i.at("name"), i.at("variable"), int_field(i, "scope", at),
                            i.at("feeds"), setter_named(i.at("setter")), type_field(i, at),
                            i.value("follows_unit", false)});
    }
    n = 0;
    for (const auto& o : j.at("outputs")) {
        const std::string at = item("outputs", n++);
        c.outputs.push_back({o.at("name"), o.at("variable"), int_field(o, "scope", at), o.at("from"), type_field(o, at)});
    }
    n = 0;
    for (const auto& g : j.at("goals")) {
        const std::string at = item("goals", n++);
        c.goals.push_back({int_field(g, "id", at), int_field(g, "goal", at), g.at("criterion"), g.at("kind"),
                           g.at("record"), g.at("field"), g.at("function"), g.at("meaning")});
    }
    parse_positions(j, c);
    return c;
}

// Names must stay unique among inputs and scopes, and among outputs and
// scopes: a suite column or scope cell must mean exactly one thing. An input
// and an output may share a name (a field fed and read back through a
// pointer), as a suite heads outputs with "expect".
void check_unique(const Catalog& c) {
    std::set<std::string> names, output_names;
    std::set<int32_t> ids;
    auto name = [&](const std::string& n) {
        if (!names.insert(n).second) throw std::runtime_error("name '" + n + "' is used twice");
    };
    auto id = [&](int32_t v) {
        if (!ids.insert(v).second) throw std::runtime_error("variable ID " + std::to_string(v) + " is listed twice");
    };
    for (const auto& s : c.scopes)
        name(s.name);
    for (const auto& i : c.inputs)
        name(i.name), id(i.id);
    for (const auto& s : c.scopes)
        output_names.insert(s.name);
    for (const auto& o : c.outputs)
        if (!output_names.insert(o.name).second) throw std::runtime_error("name '" + o.name + "' is used twice");
    for (const auto& g : c.goals)
        id(g.id);
    std::set<int32_t> uids;
    for (const auto& s : c.scopes)
        if (!uids.insert(s.uid).second) throw std::runtime_error("scope " + std::to_string(s.uid) + " is listed twice");
    for (const auto& i : c.inputs)
        if (!c.scope(i.scope)) throw std::runtime_error("input " + i.name + " names unknown scope");
    for (const auto& o : c.outputs)
        if (!c.scope(o.scope)) throw std::runtime_error("output " + o.name + " names unknown scope");
}

}  // namespace

Catalog load_catalog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot read catalog " + path);
    // An empty file reads as "" and is then reported as malformed; an endless
    // one stops at the limit.
    std::string text;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxInputBytes || std::memchr(chunk, '\0', static_cast<std::size_t>(in.gcount())))
            throw Error("catalog " + path + " is malformed: a binary file, or larger than " + kMaxInputText);
    }
    try {
        const auto j = nlohmann::json::parse(text);
        Catalog c = parse(j);
        check_unique(c);
        if (j.contains("library")) c.library = j.at("library").get<std::string>();
        c.path = path;
        c.id = text_sha256(text);
        return c;
    } catch (const std::exception& e) {
        throw Error("catalog " + path + " is malformed: " + e.what());
    }
}

const std::vector<std::string>& criterion_order() {
    static const std::vector<std::string> order = [] {
        std::vector<std::string> v;
        for (const auto& c : kCriteria)
            v.push_back(c.name);
        v.push_back("unclassified");
        return v;
    }();
    return order;
}

namespace {
constexpr OnLines on_lines_named(std::string_view role) {
    return role == "RUN" ? OnLines::run : role == "OUTCOME" ? OnLines::outcome : role == "BOUND" ? OnLines::bound : OnLines::none;
}
constexpr Criterion kCriterionRows[] = {
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) {criterion, #kind, on_lines_named(#lines)},
#include "instrumentation/probe_kinds.def"
};
}  // namespace

const std::span<const Criterion> kCriteria = kCriterionRows;

const Criterion* criterion_info(const std::string& name) {
    for (const Criterion& c : kCriteria)
        if (name == c.name) return &c;
    return nullptr;
}

std::string goal_outcome(const std::string& kind, const std::string& field) {
    struct KindOutcomes {
        std::string kind;
        std::vector<std::pair<std::string, std::string>> goals;  // field, outcome
    };
#define IXA_GOAL(field, rule, subject, meaning, outcome) {#field, outcome},
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) KindOutcomes{#kind, {goals}},
    static const std::vector<KindOutcomes> kinds = {
#include "instrumentation/probe_kinds.def"
    };
#undef IXA_GOAL
    const std::string* by_field = nullptr;
    for (const KindOutcomes& k : kinds)
        for (const auto& [f, outcome] : k.goals) {
            if (f != field) continue;
            if (k.kind == kind) return outcome;
            if (!by_field) by_field = &outcome;
        }
    return by_field ? *by_field : "entered";
}

std::optional<std::string> criterion_named(const std::string& text) {
    std::string t;
    for (char ch : text)
        t += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (t == "switch" || t == "switch-case" || t == "switch_case") t = "switch case";
    if (t == "relop" || t == "boundary" || t == "relational boundary") t = "relational";
    if (t == "all" || t == "total") return std::string("total");
    for (const auto& c : kCriteria) {
        std::string kind;
        for (const char* k = c.kind; *k; ++k)
            kind += static_cast<char>(std::tolower(static_cast<unsigned char>(*k)));
        if (t == c.name || t == kind) return std::string(c.name);
    }
    return std::nullopt;
}

}  // namespace kiv
