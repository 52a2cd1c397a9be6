// The parent of the search: forks the child that searches (or minimises),
// reads what it streams back through a pipe, and when it dies takes the case
// it had published to shared memory before running it as a finding.
#include "generate/supervise.h"

#include "error.h"
#include "exec/child.h"
#include "generate/ticker.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <map>
#include <utility>

namespace kiv::gen {

namespace {

using Clock = std::chrono::steady_clock;

// Flat, host-endian encoding of what crosses the pipe and shared memory;
// both ends are the same binary.
struct Writer {
    std::string buf;
    template <class T>
    void put(T v) {
        buf.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    template <class T>
    void bytes(const std::vector<T>& v) {
        put(static_cast<uint32_t>(v.size()));
        buf.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
    }
    void steps(const Case& c) {
        put(static_cast<uint32_t>(c.size()));
        for (const Step& s : c) {
            put(s.scope);
            put(static_cast<uint32_t>(s.sets.size()));
            for (const Set& x : s.sets)
                put(x.input), put(x.value);
        }
    }
};

struct Reader {
    const char* at;
    const char* end;
    template <class T>
    T get() {
        T v{};
        if (end - at < static_cast<std::ptrdiff_t>(sizeof v)) throw Error("generate: a child sent a truncated message");
        std::memcpy(&v, at, sizeof v);
        at += sizeof v;
        return v;
    }
    template <class T = uint8_t>
    std::vector<T> bytes() {
        const auto n = get<uint32_t>();
        if (static_cast<std::size_t>(end - at) / sizeof(T) < n)
            throw Error("generate: a child sent a truncated message");
        std::vector<T> v(n);
        if (n) std::memcpy(v.data(), at, n * sizeof(T));
        at += n * sizeof(T);
        return v;
    }
    Case steps() {
        Case c(get<uint32_t>());
        for (Step& s : c) {
            s.scope = get<int32_t>();
            s.sets.resize(get<uint32_t>());
            for (Set& x : s.sets) {
                x.input = get<uint16_t>();
                x.value = get<int64_t>();
            }
        }
        return c;
    }
};

constexpr std::size_t kCaseBytes = 1 << 20;  // a case of --max-steps steps, each setting many inputs

struct Shared {  // one anonymous shared page set between parent and child
    std::atomic<uint64_t> beat;        // bumped before every step
    std::atomic<int32_t> step;         // the step running, from 0
    std::atomic<uint64_t> executions;  // cases run, restarts included
    std::atomic<uint64_t> steps;
    std::atomic<uint32_t> case_size;  // bytes of the case below
    std::atomic<uint64_t> reached;          // goals, as of the last corpus case
    std::atomic<uint64_t> last_goal_micros;  // from the start to the last new goal
    char case_bytes[kCaseBytes];
};

class SharedMap {
public:
    SharedMap() {
        p_ = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p_ == MAP_FAILED) throw Error(std::string("generate: cannot map shared memory: ") + std::strerror(errno));
        new (p_) Shared{};
    }
    ~SharedMap() { munmap(p_, sizeof(Shared)); }
    SharedMap(const SharedMap&) = delete;
    SharedMap& operator=(const SharedMap&) = delete;
    Shared& operator*() { return *static_cast<Shared*>(p_); }
    Shared* operator->() { return static_cast<Shared*>(p_); }

private:
    void* p_;
};

constexpr int kChannelLost = 6;  // exit status of a child whose unit closed its channel to the parent

void send(int fd, char tag, const std::string& payload) {
    std::string m(1, tag);
    const auto n = static_cast<uint32_t>(payload.size());
    m.append(reinterpret_cast<const char*>(&n), sizeof n);
    m += payload;
    for (std::size_t off = 0; off < m.size();) {
        const ssize_t w = write(fd, m.data() + off, m.size() - off);
        if (w < 0 && errno == EINTR) continue;
        // The unit closed the channel (or the parent is gone): said as such, not as a crash of its own.
        if (w <= 0) _exit(errno == EBADF ? kChannelLost : 5);
        off += static_cast<std::size_t>(w);
    }
}

void publish(Shared& sh, const Case& c) {
    Writer w;
    w.steps(c);
    const std::size_t n = std::min(w.buf.size(), kCaseBytes);
    std::memcpy(sh.case_bytes, w.buf.data(), n);
    sh.case_size.store(static_cast<uint32_t>(n), std::memory_order_release);
    sh.step.store(-1, std::memory_order_relaxed);
}

struct ChildEnd {
    bool finished = false;  // sent its last message and exited 0
    Finding death;
};

// Runs body(fd) in a child, hands every message it sends to on_message, and
// kills it when a step makes no progress for the step timeout.
ChildEnd run_child(Shared& sh, double step_timeout, const std::function<void(int)>& body,
                   const std::function<void(char, Reader&)>& on_message) {
    sh.case_size.store(0);
    ChildOptions co;
    co.step_timeout = step_timeout;
    co.token = &sh.beat;
    Child ch("generate: cannot start the search", body, co);
    std::string buf;
    bool done = false;
    while (!done) {
        char chunk[1 << 16];
        const long n = ch.read_some(chunk, sizeof chunk);
        if (n <= 0) break;
        buf.append(chunk, static_cast<std::size_t>(n));
        std::size_t at = 0;
        while (buf.size() - at >= 5) {
            uint32_t len;
            std::memcpy(&len, buf.data() + at + 1, sizeof len);
            if (buf.size() - at - 5 < len) break;
            Reader rd{buf.data() + at + 5, buf.data() + at + 5 + len};
            if (buf[at] == 'Z')
                done = true;
            else
                on_message(buf[at], rd);
            at += 5 + len;
        }
        buf.erase(0, at);
    }
    const bool timed_out = ch.timed_out();
    const int status = ch.wait();
    ChildEnd end;
    end.finished = done && !timed_out && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (end.finished) return end;
    if (const uint32_t n = sh.case_size.load(); n > 0) {
        Reader rd{sh.case_bytes, sh.case_bytes + n};
        end.death.steps = rd.steps();
        const int32_t step = sh.step.load();
        if (step >= 0 && static_cast<std::size_t>(step) + 1 < end.death.steps.size())
            end.death.steps.resize(static_cast<std::size_t>(step) + 1);
    }
    end.death.timed_out = timed_out;
    if (!timed_out && WIFSIGNALED(status)) end.death.signal = WTERMSIG(status);
    if (!timed_out && WIFEXITED(status)) end.death.exit_status = WEXITSTATUS(status);
    return end;
}

}  // namespace

std::string Finding::what() const {
    const std::string at = " at step " + std::to_string(steps.size());
    if (timed_out) return "timed out" + at;
    if (signal) {
        const char* name = sigabbrev_np(signal);
        return std::string(name ? "SIG" + std::string(name) : "signal " + std::to_string(signal)) + at;
    }
    if (exit_status == kChannelLost) return "closed the search's channel to kivrun" + at;
    return "exited with status " + std::to_string(exit_status) + at;
}

Generated generate(Runner& runner, const GenerateOptions& o) {
    Generated out;
    SharedMap sh;
    const auto start = Clock::now();
    std::map<std::pair<int, int32_t>, bool> crash_kinds;  // (signal, scope of the step that died)
    std::string last_death;
    std::vector<Case> fatal;  // every case that killed a child, repeats of a kind included
    auto record = [&](Finding f) {
        if (f.steps.empty()) throw Error("generate: the worker process died before it ran a case: " + f.what());
        ++out.deaths;
        fatal.push_back(f.steps);
        last_death = f.what();
        const int32_t scope = f.steps.empty() ? 0 : f.steps.back().scope;
        if (crash_kinds.emplace(std::make_pair(f.timed_out ? -1 : f.signal, scope), true).second)
            out.crashes.push_back(std::move(f));
    };
    Execute exec = [&runner](const Case& c, Observation& obs) { runner.execute(c, obs); };
    runner.watch(&sh->beat, &sh->step);

    // The search, restarted with the corpus so far after each death; each
    // restart draws from its own seed so it does not replay the fatal case.
    std::optional<Ticker> ticker;
    if (o.on_tick)
        ticker.emplace(std::chrono::seconds(1), [&] {
            Progress p;
            p.executions = sh->executions.load(std::memory_order_relaxed);
            p.reached = sh->reached.load(std::memory_order_relaxed);
            p.seconds_to_last_goal = static_cast<double>(sh->last_goal_micros.load(std::memory_order_relaxed)) / 1e6;
            o.on_tick(p, std::chrono::duration<double>(Clock::now() - start).count());
        });
    for (uint64_t round = 0;; ++round) {
        bool got_end = false;
        const std::size_t corpus_before = out.corpus.size();
        auto body = [&](int fd) {
            Engine engine(runner.space(), exec, o.seed + round * 0x9E3779B97F4A7C15ull, o.wanted);
            for (const Case& f : fatal)
                engine.avoid(f);
            std::optional<Pairs> pairs;
            if (!o.mcdc.empty()) {
                pairs.emplace(o.mcdc);
                engine.extra = {[&](const Observation& obs) { return pairs->note(obs.vectors); },
                                [&] { return pairs->open(); }};
            }
            for (const Entry& e : out.corpus)
                engine.adopt(e);
            engine.resume(out.progress, start);
            engine.before_run = [&](const Case& c) {
                publish(*sh, c);
                sh->executions.fetch_add(1, std::memory_order_relaxed);
                sh->steps.fetch_add(c.size(), std::memory_order_relaxed);
            };
            engine.on_entry = [&](const Entry& e) {
                sh->reached.store(engine.progress().reached, std::memory_order_relaxed);
                sh->last_goal_micros.store(static_cast<uint64_t>(engine.progress().seconds_to_last_goal * 1e6),
                                           std::memory_order_relaxed);
                Writer w;
                w.steps(e.steps);
                w.bytes(e.reached);
                w.bytes(e.outputs);
                w.bytes(e.vectors);
                w.bytes(e.distance);
                w.bytes(e.near_step);
                w.put(engine.progress());
                send(fd, 'E', w.buf);
            };
            const Stop stop = engine.run(o.limits);
            Writer w;
            w.put(engine.progress());
            w.put(static_cast<uint32_t>(stop));
            send(fd, 'P', w.buf);
            send(fd, 'Z', "");
        };
        auto on_message = [&](char tag, Reader& rd) {
            if (tag == 'E') {
                Entry e;
                e.steps = rd.steps();
                e.reached = rd.bytes();
                e.outputs = rd.bytes<uint64_t>();
                e.vectors = rd.bytes();
                e.distance = rd.bytes<uint64_t>();
                e.near_step = rd.bytes<uint32_t>();
                out.progress = rd.get<Progress>();
                out.corpus.push_back(std::move(e));
            } else if (tag == 'P') {
                out.progress = rd.get<Progress>();
                out.stop = static_cast<Stop>(rd.get<uint32_t>());
                got_end = true;
            }
        };
        ChildEnd end = run_child(*sh, o.step_timeout, body, on_message);
        if (end.finished && got_end) break;
        record(std::move(end.death));
        out.progress.executions = sh->executions.load();
        out.progress.steps = sh->steps.load();
        const double spent = std::chrono::duration<double>(Clock::now() - start).count();
        if ((o.limits.max_executions && out.progress.executions >= o.limits.max_executions) ||
            (o.limits.seconds > 0 && spent >= o.limits.seconds)) {
            out.stop = o.limits.max_executions && out.progress.executions >= o.limits.max_executions ? Stop::executions
                                                                                                     : Stop::time;
            break;
        }
        out.barren = out.corpus.size() > corpus_before ? 0 : out.barren + 1;
        if (out.barren > o.max_restarts) {
            out.stop = Stop::halted;
            break;
        }
    }

    ticker.reset();

    // Minimisation runs cases the search never ran (shortened ones), which
    // may die too; then the cover of unshortened corpus cases is used.
    Execute exec_published = [&](const Case& c, Observation& obs) {
        publish(*sh, c);
        runner.execute(c, obs);
    };
    std::optional<Pairs> pairs;
    if (!o.mcdc.empty()) {
        pairs.emplace(o.mcdc);
        for (const Entry& e : out.corpus)
            pairs->note(e.vectors);
    }
    for (bool shorten : {true, false}) {
        std::vector<Chosen> suite;
        auto body = [&](int fd) {
            for (const Chosen& c : minimise(out.corpus, exec_published, shorten, pairs ? &*pairs : nullptr)) {
                Writer w;
                w.steps(c.steps);
                w.put(static_cast<uint32_t>(c.goals.size()));
                for (std::size_t g : c.goals)
                    w.put(static_cast<uint64_t>(g));
                w.bytes(c.seen.reached);
                w.bytes(c.seen.outputs);
                w.bytes(c.seen.vectors);
                send(fd, 'M', w.buf);
            }
            send(fd, 'Z', "");
        };
        auto on_message = [&](char, Reader& rd) {
            Chosen c;
            c.steps = rd.steps();
            c.goals.resize(rd.get<uint32_t>());
            for (auto& g : c.goals)
                g = static_cast<std::size_t>(rd.get<uint64_t>());
            c.seen.reached = rd.bytes();
            c.seen.outputs = rd.bytes<uint64_t>();
            c.seen.vectors = rd.bytes();
            suite.push_back(std::move(c));
        };
        ChildEnd end = run_child(*sh, o.step_timeout, body, on_message);
        if (end.finished) {
            out.suite = std::move(suite);
            out.shortened = shorten;
            out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            return out;
        }
        record(std::move(end.death));
    }
    throw Error("generate: the cases the search found could not be run again to minimise them: " +
                last_death);
}

}  // namespace kiv::gen
