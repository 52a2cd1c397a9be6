// Writing a folder report whole.
#include "formats/report_folder.h"

#include "error.h"
#include "formats/report_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace kiv {

namespace fs = std::filesystem;

namespace {

// Removes the folders a killed run left beside `final_dir` (FINAL.tmpPID,
// FINAL.oldPID): those of a process no longer alive that hold the marker or
// nothing. A live run's, or one holding anything else, is left alone.
void remove_stale_folders(const fs::path& final_dir) {
    const std::string name = final_dir.filename().string();
    std::error_code ec;
    const fs::path parent = final_dir.has_parent_path() ? final_dir.parent_path() : fs::path(".");
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() <= name.size() + 4 || entry.compare(0, name.size(), name) != 0) continue;
        const std::string tag = entry.substr(name.size(), 4);
        const std::string digits = entry.substr(name.size() + 4);
        if ((tag != ".tmp" && tag != ".old") || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code fe;
        if (!fs::is_directory(it->symlink_status(fe))) continue;
        if (fs::exists(it->path() / kReportMarker, fe) || fs::is_empty(it->path(), fe)) stale.push_back(it->path());
    }
    for (const auto& p : stale)
        fs::remove_all(p, ec);
}

}  // namespace

void write_report_folder(const std::string& option, const std::string& dir,
                         const std::function<void(const std::string&)>& write) {
    std::error_code ec;
    fs::path final_dir = fs::path(dir);
    if (fs::is_symlink(final_dir, ec)) {
        final_dir = fs::canonical(final_dir, ec);
        if (ec) throw Error("cannot write " + option + " " + dir + ": " + ec.message());
    }
    if (!final_dir.has_filename()) final_dir = final_dir.parent_path();  // "out/"
    remove_stale_folders(final_dir);
    const fs::path fresh = final_dir.string() + ".tmp" + std::to_string(getpid());
    fs::remove_all(fresh, ec);
    fs::create_directories(fresh, ec);
    if (ec) throw Error("cannot write " + option + " " + dir + ": " + ec.message());
    try {
        // The marker comes first, so that even a folder left by a killed run is
        // known as kivrun's and removed by the next.
        write_report_file((fresh / kReportMarker).string(),
                          [](std::ostream& out) { out << "A report kivrun wrote; the next one here replaces it.\n"; });
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
