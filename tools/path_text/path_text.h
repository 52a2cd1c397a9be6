// A path in text that must be Unicode (JSON, XML, HTML) and back, losslessly:
// '%', control bytes and every byte that is not part of well-formed UTF-8 are
// written %XX;
// a path that is UTF-8 without '%' reads as itself. kivinst writes the sites
// files' paths this way and kivrun opens the files by the bytes.
#pragma once

#include <cstddef>
#include <string>

namespace kiv {

// Length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no overlong
// form, no surrogate, nothing above U+10FFFF), or 0.
inline std::size_t utf8_sequence(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return 1;
    const std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F) || (b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 > 0x8F))
        return 0;
    return n;
}

inline std::string path_text(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = c == '%' || c < 0x20 || c == 0x7F ? 0 : utf8_sequence(bytes, i);
        if (n) {
            out.append(bytes, i, n);
            i += n;
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes[i++]);
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

// The bytes of a path written by path_text; a '%' not followed by two hex
// digits stays as it is.
inline std::string path_bytes(const std::string& text) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
            out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace kiv
