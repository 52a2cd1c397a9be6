// Requirement sets: read from CSV tables and ReqIF 1.2 files (.reqif, or
// .reqifz, a zip of them) into the result's Requirement records.
#pragma once

#include "error.h"
#include "model/trace.h"

#include <string>
#include <vector>

namespace kiv {

// Which ReqIF attribute (by its LONG-NAME) holds each field; the ID and the
// text must be there in every requirement, the others may be missing.
struct RequirementMapping {
    std::string id = "ReqIF.ForeignID", text = "ReqIF.Text", title = "ReqIF.Name", revision = "Revision",
                level = "IntegrityLevel";
};

// Parses "id=Key,text=Description": the fields named are replaced. Throws
// Error for an unknown field or an entry without '='.
RequirementMapping parse_requirement_mapping(const std::string& text);

// Every requirement of every file, in file order; a .reqif or .reqifz file
// is read as ReqIF, anything else as CSV with the columns id, title, text,
// revision and level (id and text required). Throws SuiteError with every
// problem found: malformed file, an ID given twice (in any of the files), a
// revision that is not a whole number, an empty ID or text.
std::vector<Requirement> read_requirements(const std::vector<std::string>& files, const RequirementMapping& mapping);

// The hash a requirement's text is known by: SHA-256 of the text with each
// run of blanks and line breaks made one space and the ends trimmed, so the
// same text from a CSV cell and from ReqIF's XHTML hashes alike.
std::string requirement_text_hash(std::string_view text);

// Acceptance files: CSV with columns req, sha256 (the text hash accepted),
// revision (optional) and note. Throws SuiteError as above.
std::vector<Acceptance> read_acceptances(const std::vector<std::string>& files);

namespace detail {
// The ReqIF reader, one document's text; `file` names it in messages.
void read_reqif_text(const std::string& text, const std::string& file, const RequirementMapping& mapping,
                     std::vector<Requirement>& out, std::vector<Diagnostic>& diags);
void read_reqifz(const std::string& file, const RequirementMapping& mapping, std::vector<Requirement>& out,
                 std::vector<Diagnostic>& diags);
}  // namespace detail

}  // namespace kiv
