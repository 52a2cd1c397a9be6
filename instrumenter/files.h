// kivinst's guards on the files it reads and writes, shared by plain kivinst
// and kivinst harness: no output may be one of its inputs, and every file
// read whole has a size limit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kivinst {

// An output and the option that named it ("-o", "--depfile"), for messages.
struct NamedOutput {
    std::string option;
    std::string path;
};

// Empty when no output is one of the inputs or another output; else the
// complaint naming both. Files are compared by device and inode after links
// are followed, so another spelling of a path or a link to it is caught;
// outputs that do not exist yet are compared by their resolved path.
std::string output_clash(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs);

// The whole of a regular file of at most `limit` bytes. Throws
// std::runtime_error naming the file when it cannot be read, is no regular
// file (a device such as /dev/zero, a pipe) or is larger.
std::string read_bounded(const std::string& path, std::size_t limit);

// A file name kivinst writes into C (#include, #line) must hold no control
// character, '"' or '\\'; one it also writes into CMake text (utf8) must be
// UTF-8 too. Empty when it does; else why not.
std::string unusable_name(const std::string& path, bool utf8 = true);

// A path as kivinst's output names it: relative to root, never absolute, so
// the output is the same in every checkout.
std::string relative_path(const std::string& path, const std::string& root);

// The name for a message: control characters and bytes that are not
// printable ASCII as \xNN, so that no message repeats them raw.
std::string printable(const std::string& name);

}  // namespace kivinst
