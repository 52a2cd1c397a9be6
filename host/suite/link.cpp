// Reading the traceability cells of a case, and the vocabulary they use.
#include "suite/link.h"

#include "suite/csv.h"

#include <algorithm>
#include <charconv>

namespace kiv {

const std::vector<std::string>& case_techniques() {
    static const std::vector<std::string> kTechniques{
        "requirement analysis", "equivalence class", "boundary value", "error guessing",
        "interface",            "fault injection",   "back-to-back"};
    return kTechniques;
}

const char* verifies_name(Verifies v) {
    return v == Verifies::full ? "full" : "partial";
}

namespace {

bool id_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == ':' || c == '/';
}

}  // namespace

std::optional<std::string> parse_requirement_refs(std::string_view cell, std::vector<RequirementRef>& out,
                                                  std::size_t& offset) {
    out.clear();
    std::size_t b = 0;
    while (true) {
        const std::size_t e = std::min(cell.find(',', b), cell.size());
        std::size_t s = b, t = e;
        while (s < t && cell[s] == ' ') ++s;
        while (t > s && cell[t - 1] == ' ') --t;
        const std::string_view item = cell.substr(s, t - s);
        offset = s;
        if (item.empty())
            return std::string(e == cell.size() && b > 0 ? "a comma ends the list" : "an empty entry between commas") +
                   "; expected requirement IDs separated by commas, e.g. SWR-1, SWR-2@3";
        const std::size_t at = item.find('@');
        RequirementRef ref;
        ref.id = std::string(item.substr(0, at));
        for (std::size_t k = 0; k < ref.id.size(); ++k)
            if (!id_char(ref.id[k])) {
                offset = s + k;
                return "'" + std::string(item) + "' is not a requirement ID; expected letters, digits and - _ . : / " +
                       "with an optional @REVISION, IDs separated by commas";
            }
        if (ref.id.empty()) return "'" + std::string(item) + "' has no requirement ID before '@'";
        if (at != std::string_view::npos) {
            const std::string_view rev = item.substr(at + 1);
            int64_t v = -1;
            const auto [p, ec] = std::from_chars(rev.data(), rev.data() + rev.size(), v);
            if (rev.empty() || ec != std::errc() || p != rev.data() + rev.size() || v < 0) {
                offset = s + at + 1;
                return "revision '" + std::string(rev) + "' of " + ref.id + " is not a whole number; expected " +
                       ref.id + "@3";
            }
            ref.revision = v;
        }
        for (const auto& r : out)
            if (r.id == ref.id) return ref.id + " is named twice";
        out.push_back(std::move(ref));
        if (e == cell.size()) return std::nullopt;
        b = e + 1;
    }
}

std::optional<Verifies> verifies_named(std::string_view text) {
    const std::string l = ascii_lower(text);
    if (l == "full") return Verifies::full;
    if (l == "partial") return Verifies::partial;
    return std::nullopt;
}

std::optional<std::string> technique_named(std::string_view text) {
    std::string l = ascii_lower(text);
    for (const auto& t : case_techniques()) {
        if (l.size() != t.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < l.size() && same; ++k)
            same = l[k] == t[k] || (t[k] == ' ' && (l[k] == '_' || l[k] == '-')) || (t[k] == '-' && l[k] == ' ');
        if (same) return t;
    }
    return std::nullopt;
}

std::string technique_list() {
    std::string s;
    for (const auto& t : case_techniques())
        s += (s.empty() ? "" : ", ") + t;
    return s;
}

}  // namespace kiv
