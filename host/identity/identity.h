// Identities of the files a result depends on, so results of different
// library builds or catalogs are never merged or compared as if one.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// "sha256:<hex>" of bytes already read.
std::string text_sha256(std::string_view bytes);
// The same of a file's bytes; empty when it cannot be read.
std::string file_sha256(const std::string& path);

// "build-id:<hex>" from the GNU build-id note of an ELF file, else its
// SHA-256 as text_sha256 gives it; empty when the file cannot be read.
std::string library_identity(const std::string& path);

}  // namespace kiv
