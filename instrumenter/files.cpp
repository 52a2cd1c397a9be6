// kivinst's guards on the files it reads and writes.
#include "files.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace kivinst {

namespace fs = std::filesystem;

namespace {

std::optional<std::pair<dev_t, ino_t>> identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

std::string resolved(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : p.string();
}

bool same(const std::string& a, const std::string& b) {
    const auto ia = identity(a), ib = identity(b);
    if (ia && ib) return *ia == *ib;
    return !ia && !ib && resolved(a) == resolved(b);
}

}  // namespace

std::string output_clash(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedOutput& o = outputs[i];
        for (const auto& in : inputs)
            if (identity(o.path) && same(o.path, in))
                return o.option + " " + o.path + " is " + in + ", which kivinst reads: an output never replaces an input";
        for (std::size_t j = 0; j < i; ++j)
            if (same(o.path, outputs[j].path))
                return o.option + " " + o.path + " and " + outputs[j].option + " " + outputs[j].path +
                       " are one file: give each output a place of its own";
    }
    return "";
}

std::string read_bounded(const std::string& path, std::size_t limit) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw std::runtime_error(path + ": cannot be read");
    if (!fs::is_regular_file(status)) throw std::runtime_error(path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    // Read one byte past the limit rather than trust the size a stat gave.
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw std::runtime_error(path + ": cannot be read");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > limit)
        throw std::runtime_error(path + ": larger than " + std::to_string(limit >> 20) + " MiB, the most kivinst reads");
    return text;
}

std::string unusable_name(const std::string& path, bool utf8) {
    for (std::size_t i = 0; i < path.size();) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7f) return "it holds a control character";
        if (c == '"' || c == '\\') return std::string("it holds '") + static_cast<char>(c) + "'";
        if (!utf8) {
            ++i;
            continue;
        }
        // UTF-8: a lead byte and as many continuation bytes as it announces.
        std::size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xe ? 2 : (c >> 3) == 0x1e ? 3 : 99;
        if (n == 99 || (n > 0 && c < 0xc2) || i + n >= path.size()) return "it is not UTF-8";
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(path[i + k]) >> 6) != 0x2) return "it is not UTF-8";
        i += n + 1;
    }
    return "";
}

std::string printable(const std::string& name) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f)
            out += ch;
        else
            out += std::string("\\x") + hex[c >> 4] + hex[c & 0xf];
    }
    return out;
}

std::string relative_path(const std::string& path, const std::string& root) {
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec).lexically_normal();
    const fs::path base = fs::absolute(root.empty() ? "." : root, ec).lexically_normal();
    fs::path rel = abs.lexically_relative(base);
    return rel.empty() ? fs::path(path).filename().generic_string() : rel.generic_string();
}

}  // namespace kivinst
