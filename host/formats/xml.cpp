// The one escaper of every XML and HTML writer: text that a strict parser
// reads back, whatever bytes a name, path or message holds.
#include "formats/writers.h"

#include "path_text.h"

namespace kiv {

std::string xml_text(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8_sequence(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(s, i, n);
            i += n;
            continue;
        }
        const char ch = s[i++];
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += "&#9;"; break;
            default: out += (static_cast<unsigned char>(ch) < 0x20 && ch != '\n') || ch == 0x7F ? '?' : ch;
        }
    }
    return out;
}

}  // namespace kiv
