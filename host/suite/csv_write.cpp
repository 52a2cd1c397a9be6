// Writing suites back as CSV.
#include "suite/csv_write.h"

namespace kiv {

std::string csv_field(const std::string& s) {
    const bool plain = s.find_first_of(",;\"\r\n") == std::string::npos &&
                       (s.empty() || (s.front() != ' ' && s.back() != ' ' && s.front() != '#'));
    if (plain) return s;
    std::string q = "\"";
    for (char c : s)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string scope_name(const Schema& schema, int32_t uid) {
    for (const auto& s : schema.scopes)
        if (s.uid == uid && !s.names.empty()) return s.names.front();
    return std::to_string(uid);
}

}  // namespace kiv
