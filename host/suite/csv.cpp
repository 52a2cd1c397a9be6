// The CSV reader for suite and justification files.
#include "suite/csv.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kiv {

bool CsvRow::blank() const {
    for (const auto& c : cells)
        if (!c.text.empty()) return false;
    return true;
}

namespace {

bool blank_char(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    if (s.empty() || (!blank_char(s.front()) && !blank_char(s.back()) && s.back() != '\r')) return s;
    while (!s.empty() && blank_char(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (blank_char(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool is_comment(std::string_view text, std::size_t at) {
    while (at < text.size() && blank_char(text[at]))
        ++at;
    return at < text.size() && text[at] == '#';
}

char separator_of(std::string_view text, std::size_t from) {
    bool comma = false, semicolon = false;
    for (std::size_t i = from; i < text.size() && text[i] != '\n'; ++i) {
        comma |= text[i] == ',';
        semicolon |= text[i] == ';';
    }
    return semicolon && !comma ? ';' : ',';
}

}  // namespace

std::size_t invalid_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        if (s[i] < 0x80) {
            // ASCII, the common case, eight bytes at a time.
            for (++i; i + 8 <= n; i += 8) {
                uint64_t w;
                std::memcpy(&w, s + i, 8);
                if (w & 0x8080808080808080u) break;
            }
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range excludes overlong and surrogate forms
        if (s[i] >= 0xC2 && s[i] <= 0xDF)
            len = 2;
        else if (s[i] >= 0xE0 && s[i] <= 0xEF)
            len = 3, lo = s[i] == 0xE0 ? 0xA0 : 0x80, hi = s[i] == 0xED ? 0x9F : 0xBF;
        else if (s[i] >= 0xF0 && s[i] <= 0xF4)
            len = 4, lo = s[i] == 0xF0 ? 0x90 : 0x80, hi = s[i] == 0xF4 ? 0x8F : 0xBF;
        else
            return i;
        if (i + len > n || s[i + 1] < lo || s[i + 1] > hi) return i;
        for (std::size_t k = 2; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return i;
        i += len;
    }
    return std::string_view::npos;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

CsvReader::CsvReader(std::string_view text, const std::string& file, std::vector<Diagnostic>& diags)
    : text_(text), file_(file), diags_(diags) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") i_ = line_start_ = 3;
    // Checked before any row is read, so a file saved in a legacy code page
    // stops here with its position instead of reaching the reports.
    if (const auto bad = invalid_utf8(text_); bad != std::string_view::npos) {
        const std::size_t nl = text_.rfind('\n', bad);
        const std::size_t from = nl == std::string_view::npos ? 0 : nl + 1;
        int line = 1;
        for (std::size_t k = 0; k < bad; ++k)
            line += text_[k] == '\n';
        // The column counts characters, as an editor shows them.
        int column = 1;
        for (std::size_t k = from; k < bad; ++k)
            column += (static_cast<unsigned char>(text_[k]) & 0xC0) != 0x80;
        diags_.push_back({file_, line, column, "not UTF-8; save the file as UTF-8"});
        i_ = text_.size();
    }
}

bool CsvReader::next(CsvRow& row) {
    const std::string_view text = text_;
    std::size_t i = i_;
    while (i < text.size() && is_comment(text, i)) {
        const auto* nl = static_cast<const char*>(std::memchr(text.data() + i, '\n', text.size() - i));
        i = nl ? static_cast<std::size_t>(nl - text.data()) + 1 : text.size();
        ++line_, line_start_ = i;
    }
    if (i >= text.size()) {
        i_ = i;
        return false;
    }
    if (!sep_) sep_ = separator_of(text, i);
    const char sep = sep_;
    row.line = last_line_ = line_;
    row.cells.clear();
    // Most lines have no quote: split them at the separators in one pass.
    const char* eol = static_cast<const char*>(std::memchr(text.data() + i, '\n', text.size() - i));
    const std::size_t end = eol ? static_cast<std::size_t>(eol - text.data()) : text.size();
    if (!std::memchr(text.data() + i, '"', end - i)) {
        const char* const base = text.data();
        const char* const stop = base + end;
        for (const char* b = base + i;;) {
            const char* e = b;
            while (e < stop && *e != sep)
                ++e;
            const int column = static_cast<int>(static_cast<std::size_t>(b - base) - line_start_) + 1;
            const char *lo = b, *hi = e;
            while (lo < hi && blank_char(*lo))
                ++lo;
            while (hi > lo && (blank_char(hi[-1]) || hi[-1] == '\r'))
                --hi;
            row.cells.push_back({std::string_view(lo, static_cast<std::size_t>(hi - lo)), column});
            if (e == stop) break;
            b = e + 1;
        }
        i_ = end + 1, ++line_, line_start_ = i_;
        return true;
    }
    for (;;) {  // one cell per turn
        CsvCell cell{{}, static_cast<int>(i - line_start_) + 1};
        while (i < text.size() && blank_char(text[i]))
            ++i;
        if (i < text.size() && text[i] == '"') {
            const int qline = line_, qcol = static_cast<int>(i - line_start_) + 1;
            const std::size_t b = ++i;
            std::string* copy = nullptr;  // only once a doubled quote is met
            bool closed = false;
            for (; i < text.size(); ++i) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        if (!copy) copy = &unescaped_.emplace_back(text.substr(b, i - b));
                        *copy += '"';
                        ++i;
                        continue;
                    }
                    closed = true;
                    break;
                }
                if (text[i] == '\n') ++line_, line_start_ = i + 1;
                if (copy) *copy += text[i];
            }
            if (!closed) {
                diags_.push_back({file_, qline, qcol, "quote opened here is never closed"});
                i_ = text.size();
                return false;
            }
            cell.text = copy ? std::string_view(*copy) : text.substr(b, i - b);
            ++i;
            while (i < text.size() && (blank_char(text[i]) || text[i] == '\r'))
                ++i;
            if (i < text.size() && text[i] != sep && text[i] != '\n')
                diags_.push_back({file_, line_, static_cast<int>(i - line_start_) + 1,
                                  "unexpected text after a quoted cell; expected a separator or the end of the line"});
            while (i < text.size() && text[i] != sep && text[i] != '\n')
                ++i;
        } else {
            const std::size_t b = i;
            while (i < text.size() && text[i] != sep && text[i] != '\n')
                ++i;
            cell.text = trim(text.substr(b, i - b));
        }
        row.cells.push_back(cell);
        if (i >= text.size() || text[i] == '\n') break;
        ++i;  // the separator
    }
    ++i, ++line_, line_start_ = i;
    i_ = i;
    return true;
}

std::vector<CsvRow> read_csv(std::string_view text, const std::string& file, std::vector<Diagnostic>& diags) {
    std::vector<CsvRow> rows;
    CsvReader reader(text, file, diags);
    CsvRow row;
    while (reader.next(row))
        rows.push_back(row);
    return rows;
}

std::optional<std::string> read_input_file(const std::string& file, const std::string& what,
                                           const std::string& first_row, std::vector<Diagnostic>& diags) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        diags.push_back({file, 0, 0, "is a directory; expected a " + what + " (CSV)"});
        return std::nullopt;
    }
    // One read into one buffer of the file's size: no stream copies, which
    // for a suite of a million rows would double the peak memory.
    std::string text;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    bool ok = f != nullptr;
    bool too_big = false;
    if (ok) {
        const auto size = std::filesystem::file_size(file, ec);
        too_big = !ec && size > kMaxInputBytes;
        if (!ec && !too_big) text.reserve(size);
        char buf[1 << 16];
        // A NUL ends the read at once: the file is binary (or /dev/zero) and refused below.
        for (std::size_t n; !too_big && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
            too_big = text.size() + n > kMaxInputBytes;
            if (!too_big) text.append(buf, n);
            if (std::memchr(buf, '\0', n)) break;
        }
        ok = !std::ferror(f);
        std::fclose(f);
    }
    if (too_big) {
        diags.push_back({file, 0, 0, "the " + what + " is larger than " + kMaxInputText + ", the most kivrun reads"});
        return std::nullopt;
    }
    if (!ok) {
        diags.push_back({file, 0, 0, "cannot read the " + what});
        return std::nullopt;
    }
    if (text.empty()) {
        diags.push_back({file, 0, 0, "the " + what + " is empty; expected " + first_row});
        return std::nullopt;
    }
    // A text file has no NUL bytes; naming the file as binary beats a
    // screenful of located complaints about its bytes.
    if (std::memchr(text.data(), '\0', text.size())) {
        const bool elf = text.compare(0, 4,
                                      "\x7F"
                                      "ELF") == 0;
        diags.push_back({file, 0, 0,
                         std::string("is a binary file") + (elf ? " (an executable or library)" : "") +
                             ", not a text file; expected a " + what + " (CSV)"});
        return std::nullopt;
    }
    return text;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace kiv
