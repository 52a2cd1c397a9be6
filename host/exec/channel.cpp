// Both ends of the frames between kivrun and its children, and the shared
// block they map.
#include "exec/channel.h"

#include "error.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kiv {

std::string signal_name(int sig) {
    if (!sig) return "";
    const char* abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

std::string describe_exit(int status) {
    if (WIFSIGNALED(status)) return signal_name(WTERMSIG(status));
    if (!WIFEXITED(status)) return "wait status " + std::to_string(status);
    if (WEXITSTATUS(status) == kChannelLost) return "closed its channel to kivrun";
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

bool exited_cleanly(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool write_all(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k, n -= static_cast<std::size_t>(k);
    }
    return true;
}

void FrameWriter::send(int fd) {
    // A payload its length cannot say would be read as another frame.
    if (buf_.size() - kHeader > UINT32_MAX) _exit(5);
    const auto n = static_cast<uint32_t>(buf_.size() - kHeader);
    std::memcpy(buf_.data() + 1, &n, sizeof n);
    // The unit closed the channel (EBADF), or the parent is gone.
    if (!write_all(fd, buf_.data(), buf_.size())) _exit(errno == EBADF ? kChannelLost : 5);
    buf_.resize(kHeader);
}

void FrameReader::truncated() const {
    throw Error(what_ + ": a child sent a truncated message");
}

Channel::Got Channel::next(char& tag, std::string_view& payload) {
    for (;;) {
        const std::size_t have = buf_.size() - at_;
        if (have >= FrameWriter::kHeader) {
            uint32_t n;
            std::memcpy(&n, buf_.data() + at_ + 1, sizeof n);
            if (have - FrameWriter::kHeader >= n) {
                tag = buf_[at_];
                payload = std::string_view(buf_).substr(at_ + FrameWriter::kHeader, n);
                at_ += FrameWriter::kHeader + n;
                return Got::frame;
            }
        }
        buf_.erase(0, at_);
        at_ = 0;
        char chunk[1 << 16];
        const long k = child_.read_some(chunk, sizeof chunk);
        if (k < 0) return Got::timed_out;
        if (k == 0) return Got::ended;
        buf_.append(chunk, static_cast<std::size_t>(k));
    }
}

SharedBlock::SharedBlock(std::size_t bytes, const std::string& what) : bytes_(bytes) {
    base_ = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base_ == MAP_FAILED) throw Error(what + ": " + std::strerror(errno));
}

SharedBlock::~SharedBlock() {
    munmap(base_, bytes_);
}

}  // namespace kiv
