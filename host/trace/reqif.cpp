// Reading ReqIF 1.2: the attribute definitions give each attribute's long
// name, and each SPEC-OBJECT's values are picked by the mapping's names.
// Entities are never expanded and nothing is fetched from the network.
#include "trace/requirements.h"

#include "suite/csv.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zip.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <map>
#include <memory>

namespace kiv::detail {

namespace {

bool named(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::string attribute(const xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

std::string content(const xmlNode* n) {
    xmlChar* v = xmlNodeGetContent(n);
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

const xmlNode* child(const xmlNode* n, const char* name) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (named(c, name)) return c;
    return nullptr;
}

template <typename F>
void each_element(const xmlNode* n, F f) {
    for (; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE) {
            f(n);
            each_element(n->children, f);
        }
}

class ReqifReader {
public:
    ReqifReader(const std::string& file, const RequirementMapping& m, std::vector<Requirement>& out,
                std::vector<Diagnostic>& diags)
        : file_(file), map_(m), out_(out), diags_(diags) {}

    void read(const xmlNode* root) {
        if (!root || !named(root, "REQ-IF")) {
            problem(root, "not a ReqIF document: the root element is not REQ-IF");
            return;
        }
        // Attribute definitions and enumeration values, by IDENTIFIER.
        each_element(root, [&](const xmlNode* n) {
            const std::string name = reinterpret_cast<const char*>(n->name);
            if (name.rfind("ATTRIBUTE-DEFINITION-", 0) == 0) names_[attribute(n, "IDENTIFIER")] = attribute(n, "LONG-NAME");
            if (name == "ENUM-VALUE") names_[attribute(n, "IDENTIFIER")] = attribute(n, "LONG-NAME");
        });
        const std::size_t before = diags_.size();
        each_element(root, [&](const xmlNode* n) {
            if (named(n, "SPEC-OBJECT") && diags_.size() < before + 50) object(n);
        });
    }

private:
    void problem(const xmlNode* n, const std::string& message) {
        // An element has a line only; column 1 keeps the message in the form editors follow.
        diags_.push_back({file_, n ? static_cast<int>(xmlGetLineNo(n)) : 0, 1, printable(message)});
    }

    // The value of one ATTRIBUTE-VALUE-* element as text.
    std::string value(const xmlNode* v) const {
        const std::string kind = reinterpret_cast<const char*>(v->name);
        if (kind == "ATTRIBUTE-VALUE-XHTML") return content(child(v, "THE-VALUE"));
        if (kind == "ATTRIBUTE-VALUE-ENUMERATION") {
            std::string s;
            for (const xmlNode* r = child(child(v, "VALUES"), "ENUM-VALUE-REF"); r; r = r->next)
                if (named(r, "ENUM-VALUE-REF")) {
                    const auto it = names_.find(content(r));
                    s += (s.empty() ? "" : ", ") + (it != names_.end() ? it->second : content(r));
                }
            return s;
        }
        return attribute(v, "THE-VALUE");
    }

    void object(const xmlNode* so) {
        std::map<std::string, std::string> values;
        if (const xmlNode* vs = child(so, "VALUES"))
            for (const xmlNode* v = vs->children; v; v = v->next) {
                if (v->type != XML_ELEMENT_NODE) continue;
                const xmlNode* def = child(v, "DEFINITION");
                const xmlNode* ref = nullptr;
                for (const xmlNode* c = def ? def->children : nullptr; c && !ref; c = c->next)
                    if (c->type == XML_ELEMENT_NODE) ref = c;
                if (!ref) {
                    problem(v, "an attribute value without a DEFINITION");
                    continue;
                }
                const auto it = names_.find(content(ref));
                if (it == names_.end()) {
                    problem(ref, "attribute definition '" + content(ref) + "' is not defined in the document");
                    continue;
                }
                values[it->second] = value(v);
            }
        const std::string ident = attribute(so, "IDENTIFIER");
        const auto field = [&](const std::string& name) -> const std::string* {
            const auto it = values.find(name);
            return it == values.end() ? nullptr : &it->second;
        };
        Requirement r;
        r.file = file_, r.line = static_cast<int32_t>(xmlGetLineNo(so));
        const std::string* id = field(map_.id);
        if (!id || id->empty()) {
            problem(so, "SPEC-OBJECT " + ident + " has no '" + map_.id + "' (the requirement ID; see --req-map)");
            return;
        }
        r.id = *id;
        const std::string* text = field(map_.text);
        if (!text) {
            problem(so, "requirement " + r.id + " (SPEC-OBJECT " + ident + ") has no '" + map_.text +
                            "' (its text; see --req-map)");
            return;
        }
        r.text = *text;
        r.text_sha256 = requirement_text_hash(r.text);
        if (const std::string* t = field(map_.title)) r.title = *t;
        if (const std::string* l = field(map_.level)) r.level = *l;
        if (const std::string* rev = field(map_.revision); rev && !rev->empty()) {
            int64_t v = 0;
            const auto [p, ec] = std::from_chars(rev->data(), rev->data() + rev->size(), v);
            if (ec != std::errc() || p != rev->data() + rev->size() || v < 0) {
                problem(so, "revision '" + *rev + "' of " + r.id + " is not a whole number");
                return;
            }
            r.revision = v;
        }
        out_.push_back(std::move(r));
    }

    const std::string& file_;
    const RequirementMapping& map_;
    std::vector<Requirement>& out_;
    std::vector<Diagnostic>& diags_;
    std::map<std::string, std::string> names_;  // IDENTIFIER -> LONG-NAME
};

}  // namespace

void read_reqif_text(const std::string& text, const std::string& file, const RequirementMapping& mapping,
                     std::vector<Requirement>& out, std::vector<Diagnostic>& diags) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        diags.push_back({file, 0, 0, "too large to read as XML (over 2 GB)"});
        return;
    }
    // No entity expansion, no DTD loading, no network: a requirement file is data.
    // The first error is the one that explains the rest.
    struct First {
        bool seen = false;
        int line = 0, column = 0;
        std::string message;
    } first;
    xmlSetStructuredErrorFunc(&first, [](void* to, xmlErrorPtr e) {
        auto* f = static_cast<First*>(to);
        if (f->seen || !e || e->level < XML_ERR_ERROR) return;
        *f = {true, e->line, e->int2 > 0 ? e->int2 : 1, e->message ? e->message : "unreadable XML"};
    });
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), file.c_str(), nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (!doc || first.seen) {
        std::string message = first.seen ? first.message : "unreadable XML";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        diags.push_back({file, first.line, first.column, "malformed XML: " + printable(message)});
        return;
    }
    // ReqIF has no document type declaration; one could define entities whose
    // nested references multiply the text a thousandfold at every level.
    if (doc->intSubset || doc->extSubset) {
        diags.push_back({file, 1, 1, "a ReqIF file has no <!DOCTYPE>; entity declarations are not read"});
        return;
    }
    ReqifReader(file, mapping, out, diags).read(xmlDocGetRootElement(doc.get()));
}

void read_reqifz(const std::string& file, const RequirementMapping& mapping, std::vector<Requirement>& out,
                 std::vector<Diagnostic>& diags) {
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &err);
    if (!z) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        diags.push_back({file, 0, 0, std::string("not a readable .reqifz (zip) file: ") + zip_error_strerror(&ze)});
        zip_error_fini(&ze);
        return;
    }
    constexpr zip_uint64_t kMaxEntry = 512u << 20;  // a requirement document, not a zip bomb
    bool any = false;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) continue;
        const std::string name = st.name;
        if (name.size() < 6 || ascii_lower(name.substr(name.size() - 6)) != ".reqif") continue;
        any = true;
        const std::string where = file + "(" + name + ")";
        if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxEntry) {
            diags.push_back({where, 0, 0, "entry too large to read (over 512 MB)"});
            continue;
        }
        std::string text(st.size, '\0');
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        const zip_int64_t got = f ? zip_fread(f, text.data(), st.size) : -1;
        if (f) zip_fclose(f);
        if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) {
            diags.push_back({where, 0, 0, "entry could not be read from the zip"});
            continue;
        }
        read_reqif_text(text, where, mapping, out, diags);
    }
    zip_close(z);
    if (!any) diags.push_back({file, 0, 0, "the .reqifz archive holds no .reqif file"});
}

}  // namespace kiv::detail
