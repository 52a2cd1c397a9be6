// Report files: same-file checks by device and inode, writes checked after close.
#include "formats/report_files.h"

#include "error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace kiv {

namespace {

namespace fs = std::filesystem;

// The same file: same device and inode when it exists, else the same normal path.
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ec;
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// Whether `path` lies somewhere below the existing folder `dir`, links resolved.
bool lies_in(const std::string& path, const std::string& dir) {
    struct stat sd, sp;
    if (stat(dir.c_str(), &sd) != 0) return false;
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    if (ec) return false;
    while (p.has_relative_path()) {
        p = p.parent_path();
        if (stat(p.c_str(), &sp) == 0 && sp.st_dev == sd.st_dev && sp.st_ino == sd.st_ino) return true;
    }
    return false;
}

// A file the existing folder `dir` holds, when it holds one and is no report
// kivrun wrote; else empty.
std::string foreign_file(const std::string& dir) {
    std::error_code ec;
    std::string first;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() == kReportMarker) return "";
        if (first.empty()) first = it->path().string();
    }
    if (ec) throw Error("cannot read the folder " + dir + ": " + ec.message());
    return first;
}

std::string parent_of(const std::string& path) {
    const fs::path p = fs::path(path).parent_path();
    return p.empty() ? "." : p.string();
}

}  // namespace

void check_outputs(const std::vector<OutputPath>& outputs, const std::vector<std::string>& inputs,
                   const std::string& command, const std::vector<std::string>& shown) {
    struct Input {
        const std::string& path;
        std::string role;
    };
    std::vector<Input> all;
    for (const auto& in : inputs) all.push_back({in, "an input of the " + command});
    for (const auto& in : shown) all.push_back({in, "a source the HTML report shows"});
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const OutputPath& o = outputs[i];
        const std::string what = o.option + " " + o.path;
        if (o.path.empty()) throw Error(o.option + ": an empty path");
        for (const auto& in : all)
            if (same_file(o.path, in.path)) throw Error(what + ": that is " + in.role + " (" + in.path + "); not overwritten");
        for (std::size_t k = 0; k < i; ++k)
            if (same_file(o.path, outputs[k].path))
                throw Error(what + ": the same file as " + outputs[k].option + "; each report needs its own");
        struct stat st;
        const bool exists = stat(o.path.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode) != o.directory)
            throw Error(what + (o.directory ? ": not a folder" : ": is a folder"));
        // A folder is replaced whole, so an input inside it would go with the old one.
        if (exists && o.directory)
            for (const auto& in : all)
                if (lies_in(in.path, o.path)) throw Error(what + ": holds " + in.path + ", " + in.role + "; not replaced");
        // Nor is a folder of the user's files replaced, through a link or not.
        if (exists && o.directory) {
            const std::string other = foreign_file(o.path);
            if (!other.empty())
                throw Error(what + ": holds " + other + ", and is no report kivrun wrote (it has no " + kReportMarker +
                            "); not replaced: name a new or empty folder");
        }
        if (exists && access(o.path.c_str(), W_OK) != 0)
            throw Error("cannot write " + what + ": " + std::strerror(errno));
        // A folder is replaced by a new one beside it, so its parent must take writes too.
        if (!exists || o.directory) {
            std::string bare = o.path;  // "out/" is the folder out, in .
            while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
            const std::string dir = parent_of(bare);
            struct stat ds;
            if (stat(dir.c_str(), &ds) != 0 || !S_ISDIR(ds.st_mode))
                throw Error("cannot write " + what + ": no folder " + dir);
            if (access(dir.c_str(), W_OK) != 0) throw Error("cannot write " + what + ": " + std::strerror(errno));
        }
    }
}

void write_report_file(const std::string& given, const std::function<void(std::ostream&)>& write) {
    // A link is written through: its target is updated and the link stays, as
    // an editor would do; the temporary goes beside the target so the rename
    // stays within one file system.
    std::string path = given;
    struct stat ls;
    if (lstat(given.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode)) {
        std::error_code ec;
        const fs::path to = fs::canonical(given, ec);
        if (ec) throw Error("cannot write " + given + ": a link to nothing (" + ec.message() + ")");
        path = to.string();
    }
    struct stat st;
    const bool in_place = stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    // A regular file is first written without a name where the file system
    // allows it, so a process killed while writing leaves nothing behind; it
    // is named only once whole. Elsewhere a named temporary beside it.
    int unnamed = in_place ? -1 : open(parent_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    const std::string unnamed_path = "/proc/self/fd/" + std::to_string(unnamed);
    std::ofstream out;
    if (unnamed >= 0) {
        out.open(unnamed_path, std::ios::binary | std::ios::trunc);
        if (!out) close(unnamed), unnamed = -1;  // no /proc to reach it by
    }
    if (unnamed < 0) out.open(in_place ? path : temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw Error("cannot write " + given + ": " + std::strerror(errno));
    const auto discard = [&] {
        if (unnamed >= 0)
            close(unnamed);
        else if (!in_place)
            std::remove(temporary.c_str());
    };
    try {
        write(out);
    } catch (...) {
        out.close();
        discard();
        throw;
    }
    out.flush();
    int err = errno;
    out.close();
    if (!out) {
        discard();
        throw Error("writing " + given + " failed" + (err ? std::string(": ") + std::strerror(err) : ""));
    }
    if (in_place) return;
    if (unnamed >= 0) {
        const bool named = linkat(AT_FDCWD, unnamed_path.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0;
        err = errno;
        close(unnamed);
        if (!named) throw Error("cannot write " + given + ": " + std::strerror(err));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        err = errno;
        std::remove(temporary.c_str());
        throw Error("cannot write " + given + ": " + std::strerror(err));
    }
}

void ReportWrites::file(const std::string& path, const std::function<void(std::ostream&)>& write) {
    if (!path.empty()) attempt([&] { write_report_file(path, write); });
}

void ReportWrites::attempt(const std::function<void()>& write) {
    try {
        write();
    } catch (const Error& e) {
        failures_.push_back(e.what());
    }
}

int ReportWrites::finish(int verdict) const {
    std::cout.flush();
    for (const auto& f : failures_)
        std::cerr << "kivrun: " << f << "\n";
    // A report that did not reach its file is a failed run, whatever the cases did.
    if (failed() || !std::cout) {
        std::cerr << "kivrun: a report was not written; the run counts as failed\n";
        return 2;
    }
    return verdict;
}

}  // namespace kiv
