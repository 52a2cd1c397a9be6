// The one way kivrun starts a child process to run library code: forked into
// a process group of its own (ended whole when it is reaped), with
// one status pipe to the parent, the fault signals back at their defaults, a
// timeout judged by a progress token, and always reaped. Every path, a failed
// pipe or fork included, leaves no descriptor and no process behind.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>

namespace kiv {

// Signals by which a library's fault ends a step.
inline constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
// Their names, in the same order, for code that must not allocate (a worker
// just after a fault); describe_exit (channel.h) names any signal.
inline constexpr const char* kFaultNames[] = {"SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT", "SIGTRAP", "SIGSYS"};
static_assert(std::size(kFaultNames) == std::size(kFaultSignals));

// The timeout rule of every child: a step whose progress token has not changed
// for the step timeout has timed out (a worker is told so, with the token, and
// reports the step itself); a child still without progress kGrace later is
// killed. Replays and the generator have no handler, so for them only the
// kill counts: they give a step the same time the run's workers do.
class ProgressWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kGrace = std::chrono::milliseconds(500);
    enum class Due { nothing, timed_out, kill };

    explicit ProgressWatch(double step_timeout = 1.0);
    // Starts watching from `token` now.
    void reset(uint64_t token, Clock::time_point now = Clock::now());
    // What is due with the token as it reads now: timed_out once, when the
    // timeout passes without progress, then kill once the grace has passed too.
    Due check(uint64_t token, Clock::time_point now = Clock::now());
    uint64_t token() const { return token_; }
    // The token the timeout was judged on; 0 while none has timed out.
    uint64_t timed_out_token() const { return told_ ? token_ : 0; }

private:
    Clock::duration timeout_;
    uint64_t token_ = 0;
    Clock::time_point changed_{};
    bool told_ = false;
};

struct ChildOptions {
    bool pipe = true;              // a status pipe from the child to the parent
    double step_timeout = 0;       // seconds; 0: reads wait for as long as the child lives
    // Bumped by the child before every step; null: a byte on the pipe is the progress.
    const std::atomic<uint64_t>* token = nullptr;
    const sigset_t* mask = nullptr;  // the child's signal mask; null: the parent's
};

// A forked child. Movable, not copyable; its destructor kills and reaps a
// child that is still there, and closes the pipe.
class Child {
public:
    // In the child, body(fd) runs with fd the pipe's write end (-1 without a
    // pipe); its return ends the child with exit 0, an exception with 5.
    // `what` starts the message of the Error thrown when the child cannot start.
    using Body = std::function<void(int fd)>;
    Child(const std::string& what, const Body& body, const ChildOptions& options = {});
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) = delete;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    pid_t pid() const { return pid_; }

    // What arrives next, up to n bytes: their count, 0 when the pipe closed,
    // -1 when the child timed out (and was killed).
    long read_some(void* buf, std::size_t n);
    bool timed_out() const { return timed_out_; }

    void kill();
    // Sends the timeout signal a worker handles, carrying the token of the step.
    void signal_timeout(int sig, uint64_t token);
    // Closes the pipe and waits for the child; its wait status.
    int wait();
    // Without waiting: true and the wait status when the child has ended.
    bool try_wait(int& status);

private:
    void close_pipe();
    void reap(int& status);
    pid_t pid_ = -1;
    int fd_ = -1;
    bool timed_out_ = false;
    ChildOptions options_;
    ProgressWatch watch_;
    uint64_t bytes_ = 0;  // read so far: the progress of a child without a token
};

namespace detail {
// fork(), replaceable by a test to make it fail.
extern pid_t (*fork_process)();
}  // namespace detail

}  // namespace kiv
