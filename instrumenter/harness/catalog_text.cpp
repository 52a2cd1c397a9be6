// kivinst harness: the catalog text, through the one catalog writer that the
// hand-kept tables' generator uses too, from the rows of the generated tables.
#include "catalog_text.h"

#include <cctype>
#include <string>

#include "catalog.h"

namespace kivinst::harness {

namespace {

// A macro argument as the preprocessor turns it into text: outer blanks
// dropped, each run of blanks inside one space.
std::string stringized(const std::string& tokens) {
    std::string out;
    bool blank = false;
    for (char c : tokens) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// The bytes of what kivinst writes between the quotes of a string literal,
// as the compiler reads them: its escapes taken.
std::string literal_bytes(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        auto digits = [&](int base, std::size_t most) {
            unsigned value = 0;
            std::size_t k = 0;
            for (; k < most && i + 1 < s.size(); ++k) {
                const char d = s[i + 1];
                const int v = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                              : base == 16 && std::isxdigit(static_cast<unsigned char>(d))
                                  ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                                  : 99;
                if (v >= base) break;
                value = value * static_cast<unsigned>(base) + static_cast<unsigned>(v);
                ++i;
            }
            out += static_cast<char>(value & 0xFFu);
        };
        switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case 'x': digits(16, std::string::npos); break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
                --i;
                digits(8, 3);
                break;
            default: out += c;  // \\ \' \" \?
        }
    }
    return out;
}

}  // namespace

std::string catalog_text(const CatalogInput& in) {
    kiv::catalog::Tables t;
    for (const auto& r : in.records) t.records.push_back({r.kind, r.name, r.function, literal_bytes(r.text)});
    for (const Scope& s : *in.scopes) {
        t.scopes.push_back({s.uid, literal_bytes(s.name), s.step, s.unit, s.init});
        for (const Variable& v : s.vars) {
            t.variables.push_back({v.n, s.uid, v.in, v.follows, stringized(v.type), stringized(v.direct), literal_bytes(v.name)});
            if (v.in) t.input_ids.push_back({v.id, v.n, v.setter});
            for (const auto& [name, value] : v.enumerators) t.enumerators.push_back({v.n, name, value});
        }
    }
    for (const auto& [id, n] : in.goal_ids) t.goal_ids.push_back({id, n});
    for (const auto& g : in.goals) t.goals.push_back({g.n, g.record, g.field});
    std::vector<kiv::catalog::SitesFile> sites;
    for (const auto& [path, text] : in.sites) sites.push_back({path, text});
    try {
        return kiv::catalog::write(t, sites);
    } catch (const kiv::catalog::Error& e) {
        // The writer names itself as the generator does; here it is kivinst's.
        std::string why = e.what();
        const std::string own = "catalog_gen: ";
        if (why.rfind(own, 0) == 0) why = "the catalog: " + why.substr(own.size());
        throw BadInput(why);
    }
}

}  // namespace kivinst::harness
