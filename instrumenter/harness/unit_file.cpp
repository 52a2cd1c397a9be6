// kivinst harness: reading the unit file and the ID map file. Both are JSON;
// every complaint names the file and, where the text allows, line:col.
#include "unit_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "files.h"

namespace kivinst::harness {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

Loc at_offset(const std::string& file, const std::string& text, std::size_t offset) {
    Loc l{file, 1, 1};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++l.line;
            l.column = 1;
        } else {
            ++l.column;
        }
    }
    return l;
}

// Unit and map files are a few kilobytes; a limit keeps a device or a
// runaway file from exhausting memory.
constexpr std::size_t kMaxJson = std::size_t{16} << 20;

std::string slurp(const std::string& path) {
    try {
        return kivinst::read_bounded(path, kMaxJson);
    } catch (const std::runtime_error& e) {
        throw BadInput(e.what());
    }
}

json parse(const std::string& path, const std::string& text) {
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        if (auto p = what.find("parse error"); p != std::string::npos) what = what.substr(p);
        throw BadInput(at_offset(path, text, e.byte > 0 ? e.byte - 1 : 0).str() + ": not JSON: " + what);
    }
}

// Field access with the complaint located at the key's (or the value's) text.
struct Reader {
    const UnitFile& file;

    [[noreturn]] void fail(const std::string& key, const std::string& why) const {
        throw BadInput(file.locate(key).str() + ": " + why);
    }

    void only(const json& obj, const std::string& where, std::initializer_list<const char*> keys) const {
        if (!obj.is_object()) fail(where, "\"" + where + "\" must be an object");
        std::vector<std::string> known(keys.begin(), keys.end());
        for (const auto& [k, v] : obj.items())
            if (std::find(known.begin(), known.end(), k) == known.end()) {
                std::string hint;
                if (auto n = nearest(k, known, 1); !n.empty()) hint = " (did you mean \"" + n.front() + "\"?)";
                fail(k, "unknown field \"" + k + "\" in " + where + hint);
            }
    }

    std::string str(const json& obj, const char* key) const {
        if (!obj.contains(key)) return "";
        if (!obj[key].is_string() || obj[key].get<std::string>().empty())
            fail(key, std::string("\"") + key + "\" must be a non-empty string");
        return obj[key].get<std::string>();
    }

    int id(const json& obj, const char* key) const {
        if (!obj.contains(key)) return 0;
        if (!obj[key].is_number_integer() || obj[key].get<long long>() < 1 || obj[key].get<long long>() > 2147483647)
            fail(key, std::string("\"") + key + "\" must be a positive integer");
        return obj[key].get<int>();
    }

    std::vector<std::string> strings(const json& obj, const char* key) const {
        std::vector<std::string> out;
        if (!obj.contains(key)) return out;
        if (!obj[key].is_array()) fail(key, std::string("\"") + key + "\" must be an array of strings");
        for (const auto& v : obj[key]) {
            if (!v.is_string()) fail(key, std::string("\"") + key + "\" must be an array of strings");
            out.push_back(v.get<std::string>());
        }
        return out;
    }

    std::string setter(const json& obj) const {
        std::string s = str(obj, "setter");
        if (!s.empty() && s != "PLAIN" && s != "BOOL") fail(s, "setter \"" + s + "\" is neither PLAIN nor BOOL");
        return s;
    }

    std::string type(const json& obj) const {
        static const std::set<std::string> tokens = {"bool",    "int8_t",  "uint8_t",  "int16_t", "uint16_t", "int32_t",
                                                     "uint32_t", "int64_t", "uint64_t", "float",   "double"};
        std::string t = str(obj, "type");
        if (!t.empty() && !tokens.count(t))
            fail(t, "type \"" + t + "\" is not one of bool, int8_t..uint64_t, float, double");
        return t;
    }
};

std::string resolve(const std::string& dir, const std::string& p) {
    fs::path path(p);
    return (path.is_absolute() ? path : fs::path(dir) / path).lexically_normal().string();
}

// A small count the file states: at least lo, at most hi.
int count(const Reader& r, const json& obj, const char* key, int lo, int hi) {
    if (!obj.contains(key)) return -1;
    if (!obj[key].is_number_integer() || obj[key].get<long long>() < lo || obj[key].get<long long>() > hi)
        r.fail(key, std::string("\"") + key + "\" must be a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi));
    return obj[key].get<int>();
}

void read_interfaces(const Reader& r, const json& j, UnitFile& u) {
    if (j.contains("stubs")) {
        if (!j["stubs"].is_object()) r.fail("stubs", "\"stubs\" maps called functions to how they answer");
        for (const auto& [f, v] : j["stubs"].items()) {
            r.only(v, f, {"calls", "history", "key", "keys"});
            StubSetting s;
            s.loc = u.locate(f);
            s.calls = count(r, v, "calls", 0, kMaxScriptedCalls);
            s.history = count(r, v, "history", 0, kMaxScriptedCalls);
            s.key = r.str(v, "key");
            s.keys = std::max(0, count(r, v, "keys", 1, kMaxKeys));
            if (s.key.empty() != (s.keys == 0)) r.fail(f, "stub " + f + ": \"key\" and \"keys\" go together");
            if (!s.key.empty() && s.calls > 0)
                r.fail(f, "stub " + f + " answers either by call (\"calls\") or by argument (\"key\"), not both");
            u.stubs[f] = s;
        }
    }
    if (j.contains("buffers")) {
        if (!j["buffers"].is_object()) r.fail("buffers", "\"buffers\" maps \"function.parameter\" to a capacity");
        for (const auto& [k, v] : j["buffers"].items()) {
            r.only(v, k, {"capacity", "length"});
            BufferSetting b;
            b.loc = u.locate(k);
            if (k.find('.') == std::string::npos) r.fail(k, "buffer \"" + k + "\" must be written function.parameter");
            b.capacity = count(r, v, "capacity", 1, kMaxCapacity);
            b.length = r.str(v, "length");
            if (b.capacity < 0) r.fail(k, "buffer " + k + " needs a \"capacity\"");
            u.buffers[k] = b;
        }
    }
}

}  // namespace

Loc UnitFile::locate(const std::string& value) const {
    const std::string quoted = "\"" + value + "\"";
    std::size_t p = text.find(quoted);
    if (p == std::string::npos) return Loc{path, 0, 0};
    return at_offset(path, text, p);
}

UnitFile read_unit_file(const std::string& path) {
    UnitFile u;
    u.path = path;
    u.dir = fs::path(path).parent_path().string();
    if (u.dir.empty()) u.dir = ".";
    u.text = slurp(path);
    const json j = parse(path, u.text);
    Reader r{u};
    if (!j.is_object()) throw BadInput(path + ": a unit file is a JSON object");
    r.only(j, "the unit file",
           {"format", "name", "map", "units", "environment", "entries", "goals", "includes", "defines", "scopes",
            "init_once_per", "stubs", "buffers"});
    if (j.contains("format") && j["format"] != 1) r.fail("format", "\"format\" must be 1");
    u.name = r.str(j, "name");
    if (!u.name.empty() && u.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                               std::string::npos)
        r.fail(u.name, "\"name\" must be a C identifier");
    if (j.contains("map")) u.map = resolve(u.dir, r.str(j, "map"));
    if (j.contains("units")) {
        if (!j["units"].is_object()) r.fail("units", "\"units\" maps source file names to translation unit numbers");
        for (const auto& [k, v] : j["units"].items()) {
            if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 99999)
                r.fail(k, "translation unit number of " + k + " must be 1 to 99999");
            u.units[k] = v.get<int>();
        }
    }
    if (j.contains("environment")) {
        const json& e = j["environment"];
        r.only(e, "environment", {"sources", "init"});
        for (const auto& s : r.strings(e, "sources")) {
            const std::string p = resolve(u.dir, s);
            if (!fs::is_regular_file(p)) r.fail(s, "environment source " + s + " does not exist");
            u.environment.push_back(p);
        }
        u.environment_init = r.str(e, "init");
    }
    if (const std::string per = r.str(j, "init_once_per"); !per.empty()) {
        if (per != "case" && per != "scope") r.fail(per, "\"init_once_per\" must be \"case\" or \"scope\"");
        u.init_per_scope = per == "scope";
    }
    u.entries = r.strings(j, "entries");
    if (j.contains("goals")) {
        r.only(j["goals"], "goals", {"skip_functions"});
        u.skip_functions = r.strings(j["goals"], "skip_functions");
    }
    for (const auto& i : r.strings(j, "includes")) u.includes.push_back(resolve(u.dir, i));
    u.defines = r.strings(j, "defines");
    read_interfaces(r, j, u);
    if (j.contains("scopes")) {
        if (!j["scopes"].is_object()) r.fail("scopes", "\"scopes\" maps entry functions to their settings");
        for (const auto& [entry, s] : j["scopes"].items()) {
            ScopeOverride o;
            o.entry = entry;
            o.loc = u.locate(entry);
            r.only(s, entry, {"name", "uid", "step", "init", "infer", "inputs", "outputs", "variables"});
            o.name = r.str(s, "name");
            o.step = r.str(s, "step");
            o.init = r.str(s, "init");
            o.uid = r.id(s, "uid");
            if (s.contains("infer")) {
                if (!s["infer"].is_boolean()) r.fail("infer", "\"infer\" must be true or false");
                o.infer = s["infer"].get<bool>();
            }
            for (const char* dir : {"inputs", "outputs"}) {
                if (!s.contains(dir)) continue;
                if (!s[dir].is_array()) r.fail(dir, std::string("\"") + dir + "\" must be an array");
                for (const auto& v : s[dir]) {
                    r.only(v, dir, {"name", "variable", "type", "setter", "id"});
                    ExtraVariable x;
                    x.variable = r.str(v, "variable");
                    if (x.variable.empty()) r.fail(dir, std::string("each of ") + entry + "'s " + dir + " needs \"variable\"");
                    x.name = r.str(v, "name");
                    if (x.name.empty()) x.name = x.variable;
                    x.type = r.type(v);
                    x.setter = r.setter(v);
                    x.id = r.id(v, "id");
                    x.loc = u.locate(x.variable);
                    if (std::string(dir) == "outputs" && (x.id || !x.setter.empty()))
                        r.fail(x.variable, "an output has no \"id\" or \"setter\"");
                    (std::string(dir) == "inputs" ? o.inputs : o.outputs).push_back(x);
                }
            }
            if (s.contains("variables")) {
                if (!s["variables"].is_object()) r.fail("variables", "\"variables\" maps inferred names to overrides");
                for (const auto& [k, v] : s["variables"].items()) {
                    r.only(v, k, {"name", "type", "setter", "id"});
                    VariableOverride vo;
                    vo.name = r.str(v, "name");
                    vo.type = r.type(v);
                    vo.setter = r.setter(v);
                    vo.id = r.id(v, "id");
                    vo.loc = u.locate(k);
                    o.variables[k] = vo;
                }
            }
            u.scopes.push_back(std::move(o));
        }
    }
    return u;
}

int IdMap::next_free(const std::string& where) const {
    if (!owner.empty() && owner.rbegin()->first == std::numeric_limits<int>::max())
        throw BadInput(where + ": ID " + std::to_string(owner.rbegin()->first) + " of " + owner.rbegin()->second +
                       " is the highest an ID can be, so no new ID is left above it: give it a lower one in the map file");
    return owner.empty() ? 1 : owner.rbegin()->first + 1;
}

int IdMap::assign(std::map<std::string, int>& section, const std::string& key, int pinned, const std::string& where) {
    const std::string me = (&section == &scopes ? "scope " : &section == &inputs ? "input " : "goal ") + key;
    auto it = section.find(key);
    int id = pinned ? pinned : it != section.end() ? it->second : next_free(where);
    if (it != section.end() && it->second != id) owner.erase(it->second);
    auto o = owner.find(id);
    if (o != owner.end() && o->second != me)
        throw BadInput(where + ": ID " + std::to_string(id) + " of " + me + " is already the ID of " + o->second +
                       "; IDs are never reused: pick another one or remove the old entry from the map file");
    section[key] = id;
    owner[id] = me;
    return id;
}

IdMap read_map(const std::string& path) {
    IdMap m;
    if (!fs::exists(path)) return m;
    const std::string text = slurp(path);
    const json j = parse(path, text);
    UnitFile located;
    located.path = path;
    located.text = text;
    Reader r{located};
    if (!j.is_object()) throw BadInput(path + ": a map file is a JSON object");
    r.only(j, "the map file", {"format", "scopes", "inputs", "goals"});
    for (const char* section : {"scopes", "inputs", "goals"}) {
        if (!j.contains(section)) continue;
        if (!j[section].is_object()) r.fail(section, std::string("\"") + section + "\" must map names to IDs");
        auto& into = std::string(section) == "scopes" ? m.scopes : std::string(section) == "inputs" ? m.inputs : m.goals;
        for (const auto& [k, v] : j[section].items()) {
            if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 2147483647)
                r.fail(k, "the ID of " + k + " must be a positive integer");
            const int id = v.get<int>();
            const std::string me = std::string(section).substr(0, std::string(section).size() - 1) + " " + k;
            auto o = m.owner.find(id);
            if (o != m.owner.end())
                throw BadInput(located.locate(k).str() + ": ID " + std::to_string(id) + " of " + me +
                               " is also the ID of " + o->second + "; every ID in a map file must be unique");
            m.owner[id] = me;
            into[k] = id;
        }
    }
    return m;
}

std::string map_json(const IdMap& m) {
    // One key per line, sections in a fixed order, so that a change reads well in a diff.
    std::ostringstream out;
    out << "{\n  \"format\": 1";
    auto section = [&](const char* name, const std::map<std::string, int>& s) {
        out << ",\n  \"" << name << "\": {";
        std::vector<std::pair<int, std::string>> rows;
        for (const auto& [k, id] : s) rows.push_back({id, k});
        std::sort(rows.begin(), rows.end());
        const char* sep = "\n";
        for (const auto& [id, k] : rows) {
            out << sep << "    " << json(k).dump() << ": " << id;
            sep = ",\n";
        }
        out << (rows.empty() ? "}" : "\n  }");
    };
    section("scopes", m.scopes);
    section("inputs", m.inputs);
    section("goals", m.goals);
    out << "\n}\n";
    return out.str();
}

std::vector<std::string> nearest(const std::string& name, const std::vector<std::string>& known, std::size_t at_most) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string a = lower(name);
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const auto& k : known) {
        const std::string b = lower(k);
        std::vector<std::size_t> row(b.size() + 1);
        for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            std::size_t diag = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const std::size_t up = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
                diag = up;
            }
        }
        const std::size_t d = row[b.size()];
        if (d <= std::max<std::size_t>(2, a.size() / 2)) scored.push_back({d, k});
    }
    std::sort(scored.begin(), scored.end());
    std::vector<std::string> out;
    for (const auto& [d, k] : scored) {
        if (out.size() == at_most) break;
        out.push_back(k);
    }
    return out;
}

}  // namespace kivinst::harness
