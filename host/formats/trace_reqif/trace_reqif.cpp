// ReqIF 1.2 export of each requirement with its verification status, for a
// round trip into a requirement tool. The ID, title, text, revision and level
// keep the attribute names the reader maps by default, so the export reads
// back as the same requirement set.
#include "formats/trace_writers.h"
#include "formats/writers.h"

namespace kiv {

namespace {

struct Attribute {
    const char* ident;
    const char* name;
    bool xhtml;
};
constexpr Attribute kAttributes[] = {
    {"ad-id", "ReqIF.ForeignID", false},        {"ad-name", "ReqIF.Name", false},
    {"ad-text", "ReqIF.Text", true},            {"ad-revision", "Revision", false},
    {"ad-level", "IntegrityLevel", false},      {"ad-status", "VerificationStatus", false},
    {"ad-cases", "VerifiedBy", false},          {"ad-hash", "TextSHA256", false},
};

}  // namespace

void write_trace_reqif(const Result& r, const TraceSummary& s, std::ostream& out) {
    const std::string when = xml_text(r.run.started.empty() ? "1970-01-01T00:00:00Z" : r.run.started);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<REQ-IF xmlns=\"http://www.omg.org/spec/ReqIF/20110401/reqif.xsd\" "
           "xmlns:xhtml=\"http://www.w3.org/1999/xhtml\">\n"
           "  <THE-HEADER>\n    <REQ-IF-HEADER IDENTIFIER=\"kivrun-verification-status\">\n"
        << "      <CREATION-TIME>" << when << "</CREATION-TIME>\n"
        << "      <REQ-IF-TOOL-ID>kivrun</REQ-IF-TOOL-ID>\n      <REQ-IF-VERSION>1.0</REQ-IF-VERSION>\n"
           "      <SOURCE-TOOL-ID>kivrun</SOURCE-TOOL-ID>\n      <TITLE>Verification status</TITLE>\n"
           "    </REQ-IF-HEADER>\n  </THE-HEADER>\n  <CORE-CONTENT>\n    <REQ-IF-CONTENT>\n      <DATATYPES>\n"
        << "        <DATATYPE-DEFINITION-STRING IDENTIFIER=\"dt-string\" LAST-CHANGE=\"" << when
        << "\" LONG-NAME=\"String\" MAX-LENGTH=\"1000000\"/>\n"
        << "        <DATATYPE-DEFINITION-XHTML IDENTIFIER=\"dt-xhtml\" LAST-CHANGE=\"" << when
        << "\" LONG-NAME=\"XHTML\"/>\n      </DATATYPES>\n      <SPEC-TYPES>\n"
        << "        <SPEC-OBJECT-TYPE IDENTIFIER=\"sot-requirement\" LAST-CHANGE=\"" << when
        << "\" LONG-NAME=\"Requirement\">\n          <SPEC-ATTRIBUTES>\n";
    for (const auto& a : kAttributes) {
        const char* kind = a.xhtml ? "XHTML" : "STRING";
        out << "            <ATTRIBUTE-DEFINITION-" << kind << " IDENTIFIER=\"" << a.ident << "\" LAST-CHANGE=\"" << when
            << "\" LONG-NAME=\"" << a.name << "\"><TYPE><DATATYPE-DEFINITION-" << kind << "-REF>"
            << (a.xhtml ? "dt-xhtml" : "dt-string") << "</DATATYPE-DEFINITION-" << kind
            << "-REF></TYPE></ATTRIBUTE-DEFINITION-" << kind << ">\n";
    }
    out << "          </SPEC-ATTRIBUTES>\n        </SPEC-OBJECT-TYPE>\n"
        << "        <SPECIFICATION-TYPE IDENTIFIER=\"st-status\" LAST-CHANGE=\"" << when
        << "\" LONG-NAME=\"Verification status\"/>\n      </SPEC-TYPES>\n      <SPEC-OBJECTS>\n";
    for (std::size_t k = 0; k < s.requirements.size(); ++k) {
        const RequirementState& q = s.requirements[k];
        // IDs cited but not in the set are no requirements of it: the gates and reports name them.
        if (q.requirement < 0) continue;
        const Requirement* req = &r.trace->requirements[static_cast<std::size_t>(q.requirement)];
        std::string cases;
        for (std::size_t c : q.cases)
            cases += (cases.empty() ? "" : " ") + r.cases[c].id() + "=" + verdict_name(r.cases[c].verdict);
        const std::string values[] = {q.id,
                                      req->title,
                                      req->text,
                                      req->revision >= 0 ? std::to_string(req->revision) : "",
                                      req->level,
                                      req_status_key(q.status),
                                      cases,
                                      req->text_sha256};
        out << "        <SPEC-OBJECT IDENTIFIER=\"req-" << k + 1 << "\" LAST-CHANGE=\"" << when
            << "\">\n          <TYPE><SPEC-OBJECT-TYPE-REF>sot-requirement</SPEC-OBJECT-TYPE-REF></TYPE>\n"
               "          <VALUES>\n";
        for (std::size_t a = 0; a < std::size(kAttributes); ++a) {
            const char* kind = kAttributes[a].xhtml ? "XHTML" : "STRING";
            out << "            <ATTRIBUTE-VALUE-" << kind;
            if (!kAttributes[a].xhtml) out << " THE-VALUE=\"" << xml_text(values[a]) << "\"";
            out << "><DEFINITION><ATTRIBUTE-DEFINITION-" << kind << "-REF>" << kAttributes[a].ident
                << "</ATTRIBUTE-DEFINITION-" << kind << "-REF></DEFINITION>";
            if (kAttributes[a].xhtml) out << "<THE-VALUE><xhtml:div>" << xml_text(values[a]) << "</xhtml:div></THE-VALUE>";
            out << "</ATTRIBUTE-VALUE-" << kind << ">\n";
        }
        out << "          </VALUES>\n        </SPEC-OBJECT>\n";
    }
    out << "      </SPEC-OBJECTS>\n      <SPECIFICATIONS>\n        <SPECIFICATION IDENTIFIER=\"spec-status\" "
           "LAST-CHANGE=\""
        << when
        << "\" LONG-NAME=\"Verification status\">\n          "
           "<TYPE><SPECIFICATION-TYPE-REF>st-status</SPECIFICATION-TYPE-REF></TYPE>\n          <CHILDREN>\n";
    for (std::size_t k = 0; k < s.requirements.size(); ++k)
        if (s.requirements[k].requirement >= 0)
            out << "            <SPEC-HIERARCHY IDENTIFIER=\"h-" << k + 1 << "\" LAST-CHANGE=\"" << when
            << "\"><OBJECT><SPEC-OBJECT-REF>req-" << k + 1 << "</SPEC-OBJECT-REF></OBJECT></SPEC-HIERARCHY>\n";
    out << "          </CHILDREN>\n        </SPECIFICATION>\n      </SPECIFICATIONS>\n    </REQ-IF-CONTENT>\n"
           "  </CORE-CONTENT>\n</REQ-IF>\n";
}

}  // namespace kiv
