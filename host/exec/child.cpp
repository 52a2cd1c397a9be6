// Starting, watching and reaping a child process.
#include "exec/child.h"

#include "error.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kiv {

namespace detail {
pid_t (*fork_process)() = ::fork;
}  // namespace detail

namespace {

// The pipe's end moved far above the descriptors a unit may close or reuse
// (a unit that closes 0 to 100, say), as high as the process may open;
// where that fails, the end stays where it was.
int high_fd(int fd) {
    if (fd < 0) return fd;
    rlimit lim{};
    const rlim_t top = getrlimit(RLIMIT_NOFILE, &lim) == 0 ? lim.rlim_cur : 1024;
    const int want = static_cast<int>(std::min<rlim_t>(top, 4096) - 1) - 8;  // a few above for the unit still
    if (want <= fd) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, want);
    if (moved < 0) return fd;
    close(fd);
    return moved;
}

}  // namespace

ProgressWatch::ProgressWatch(double step_timeout)
    : timeout_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(step_timeout))) {}

void ProgressWatch::reset(uint64_t token, Clock::time_point now) {
    token_ = token;
    changed_ = now;
    told_ = false;
}

ProgressWatch::Due ProgressWatch::check(uint64_t token, Clock::time_point now) {
    if (token != token_) {
        reset(token, now);
        return Due::nothing;
    }
    if (!told_) {
        if (now - changed_ <= timeout_) return Due::nothing;
        told_ = true;
        return Due::timed_out;
    }
    return now - changed_ > timeout_ + kGrace ? Due::kill : Due::nothing;
}

Child::Child(const std::string& what, const Body& body, const ChildOptions& options)
    : options_(options), watch_(options.step_timeout > 0 ? options.step_timeout : 1.0) {
    int fds[2] = {-1, -1};
    if (options.pipe && pipe2(fds, O_CLOEXEC) != 0)
        throw Error(what + ": cannot create a pipe: " + std::strerror(errno));
    // Buffered output would otherwise be written twice, once by the child.
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = detail::fork_process();
    if (pid < 0) {
        const int e = errno;
        if (fds[0] >= 0) close(fds[0]), close(fds[1]);
        throw Error(what + ": cannot fork: " + std::strerror(e));
    }
    if (pid == 0) {
        // A group of its own: a library signalling its group (kill(0, ...))
        // reaches itself and what it forked, never kivrun, and all of it ends
        // with the child. It dies with kivrun too, no longer in the terminal's group.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(5);
        if (fds[0] >= 0) close(fds[0]);
        // A fault must end the child with its own signal for the parent to see
        // it, whatever handlers the embedding program or a sanitizer installed.
        for (int s : kFaultSignals)
            std::signal(s, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
        if (options.mask) sigprocmask(SIG_SETMASK, options.mask, nullptr);
        try {
            body(high_fd(fds[1]));
        } catch (...) {
            _exit(5);  // never back into the parent's code
        }
        _exit(0);
    }
    pid_ = pid;
    setpgid(pid, pid);  // as the child does: whichever runs first
    if (fds[1] >= 0) close(fds[1]);
    fd_ = fds[0];
    watch_.reset(options_.token ? options_.token->load() : 0);
}

Child::Child(Child&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)),
      fd_(std::exchange(o.fd_, -1)),
      timed_out_(o.timed_out_),
      options_(o.options_),
      watch_(o.watch_),
      bytes_(o.bytes_) {}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    close_pipe();
}

void Child::close_pipe() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

long Child::read_some(void* buf, std::size_t n) {
    if (fd_ < 0) return 0;
    const bool timed = options_.step_timeout > 0;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, timed ? 20 : -1);
        if (r < 0 && errno != EINTR) return 0;
        if (r > 0) {
            const ssize_t k = ::read(fd_, buf, n);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return 0;
            bytes_ += static_cast<uint64_t>(k);
            return k;
        }
        const uint64_t progress = (options_.token ? options_.token->load() : 0) + bytes_;
        if (timed && watch_.check(progress) == ProgressWatch::Due::kill) {
            timed_out_ = true;
            kill();
            return -1;
        }
    }
}

void Child::kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
}

// The child has ended but is not reaped yet, so its group ID cannot have been
// given to another process: whatever it forked (and that holds kivrun's
// output open, say) is ended with it.
void Child::reap(int& status) {
    ::kill(-pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

void Child::signal_timeout(int sig, uint64_t token) {
    if (pid_ <= 0) return;
    sigval v{};
    v.sival_ptr = reinterpret_cast<void*>(static_cast<uintptr_t>(token));
    sigqueue(pid_, sig, v);
}

int Child::wait() {
    close_pipe();
    int status = 0;
    if (pid_ > 0) {
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        reap(status);
    }
    return status;
}

bool Child::try_wait(int& status) {
    siginfo_t info{};
    if (pid_ <= 0 || waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != pid_)
        return false;
    reap(status);
    close_pipe();
    return true;
}

}  // namespace kiv
