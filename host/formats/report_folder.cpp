// Writing a folder report whole.
#include "formats/report_folder.h"

#include "error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace kiv {

namespace fs = std::filesystem;

void write_report_folder(const std::string& option, const std::string& dir,
                         const std::function<void(const std::string&)>& write) {
    std::error_code ec;
    fs::path final_dir = fs::path(dir);
    if (fs::is_symlink(final_dir, ec)) {
        final_dir = fs::canonical(final_dir, ec);
        if (ec) throw Error("cannot write " + option + " " + dir + ": " + ec.message());
    }
    if (!final_dir.has_filename()) final_dir = final_dir.parent_path();  // "out/"
    const fs::path fresh = final_dir.string() + ".tmp" + std::to_string(getpid());
    fs::remove_all(fresh, ec);
    fs::create_directories(fresh, ec);
    if (ec) throw Error("cannot write " + option + " " + dir + ": " + ec.message());
    try {
        write(fresh.string());
        const bool exists = fs::exists(final_dir, ec);
        int swapped = exists ? renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, final_dir.c_str(), RENAME_EXCHANGE)
                             : std::rename(fresh.c_str(), final_dir.c_str());
        if (swapped != 0 && exists && (errno == EINVAL || errno == ENOSYS)) {
            // No exchange on this file system: the old folder steps aside first.
            const fs::path aside = final_dir.string() + ".old" + std::to_string(getpid());
            fs::remove_all(aside, ec);
            swapped = std::rename(final_dir.c_str(), aside.c_str());
            if (swapped == 0 && (swapped = std::rename(fresh.c_str(), final_dir.c_str())) != 0) {
                const int err = errno;
                std::rename(aside.c_str(), final_dir.c_str());
                errno = err;
            }
            if (swapped == 0) fs::remove_all(aside, ec);
        }
        if (swapped != 0) throw Error("cannot write " + option + " " + dir + ": " + std::strerror(errno));
    } catch (...) {
        fs::remove_all(fresh, ec);
        throw;
    }
    fs::remove_all(fresh, ec);  // the old pages, now under the temporary name
}

}  // namespace kiv
