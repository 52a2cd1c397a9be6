// The parent of the search: forks the child that searches (or minimises),
// reads the frames it streams back over the channel, and when it dies takes the case
// it had published to shared memory before running it as a finding.
#include "generate/supervise.h"

#include "error.h"
#include "exec/channel.h"
#include "generate/ticker.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <map>
#include <string_view>
#include <utility>

namespace kiv::gen {

namespace {

using Clock = std::chrono::steady_clock;

// A case as it crosses the channel and the shared block.
void put_steps(FrameWriter& w, const Case& c) {
    w.put(static_cast<uint32_t>(c.size()));
    for (const Step& s : c) {
        w.put(s.scope);
        w.put(static_cast<uint32_t>(s.sets.size()));
        for (const Set& x : s.sets)
            w.put(x.input), w.put(x.value);
    }
}

Case get_steps(FrameReader& r) {
    Case c(r.get<uint32_t>());
    for (Step& s : c) {
        s.scope = r.get<int32_t>();
        s.sets.resize(r.get<uint32_t>());
        for (Set& x : s.sets) {
            x.input = r.get<uint16_t>();
            x.value = r.get<int64_t>();
        }
    }
    return c;
}

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

// The shared page set, mapped before the first child and kept across them.
class SharedMap {
public:
    SharedMap() : block_(sizeof(Shared), "generate: cannot map shared memory") { new (block_.data()) Shared{}; }
    Shared& operator*() { return *reinterpret_cast<Shared*>(block_.data()); }
    Shared* operator->() { return reinterpret_cast<Shared*>(block_.data()); }

private:
    SharedBlock block_;
};

void publish(Shared& sh, const Case& c) {
    FrameWriter w;
    put_steps(w, c);
    const std::size_t n = std::min(w.payload().size(), kCaseBytes);
    std::memcpy(sh.case_bytes, w.payload().data(), n);
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
                   const std::function<void(char, FrameReader&)>& on_message) {
    sh.case_size.store(0);
    ChildOptions co;
    co.step_timeout = step_timeout;
    co.token = &sh.beat;
    Child ch("generate: cannot start the search", body, co);
    Channel channel(ch);
    bool done = false;
    char tag = 0;
    std::string_view payload;
    while (!done && channel.next(tag, payload) == Channel::Got::frame) {
        FrameReader rd(payload, "generate");
        if (tag == 'Z')
            done = true;
        else
            on_message(tag, rd);
    }
    const bool timed_out = ch.timed_out();
    const int status = ch.wait();
    ChildEnd end;
    end.finished = done && !timed_out && exited_cleanly(status);
    if (end.finished) return end;
    if (const uint32_t n = sh.case_size.load(); n > 0) {
        FrameReader rd(std::string_view(sh.case_bytes, n), "generate");
        end.death.steps = get_steps(rd);
        const int32_t step = sh.step.load();
        if (step >= 0 && static_cast<std::size_t>(step) + 1 < end.death.steps.size())
            end.death.steps.resize(static_cast<std::size_t>(step) + 1);
    }
    end.death.timed_out = timed_out;
    if (!timed_out && WIFSIGNALED(status)) end.death.signal = WTERMSIG(status);
    end.death.status = status;
    return end;
}

}  // namespace

std::string Finding::what() const {
    const std::string at = " at step " + std::to_string(steps.size());
    return (timed_out ? "timed out" : describe_exit(status)) + at;
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
                FrameWriter w('E');
                put_steps(w, e.steps);
                w.put_vector(e.reached);
                w.put_vector(e.outputs);
                w.put_vector(e.vectors);
                w.put_vector(e.distance);
                w.put_vector(e.near_step);
                w.put(engine.progress());
                w.send(fd);
            };
            const Stop stop = engine.run(o.limits);
            FrameWriter w('P');
            w.put(engine.progress());
            w.put(static_cast<uint32_t>(stop));
            w.send(fd);
            FrameWriter('Z').send(fd);
        };
        auto on_message = [&](char tag, FrameReader& rd) {
            if (tag == 'E') {
                Entry e;
                e.steps = get_steps(rd);
                e.reached = rd.get_vector();
                e.outputs = rd.get_vector<uint64_t>();
                e.vectors = rd.get_vector();
                e.distance = rd.get_vector<uint64_t>();
                e.near_step = rd.get_vector<uint32_t>();
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
                FrameWriter w('M');
                put_steps(w, c.steps);
                w.put(static_cast<uint32_t>(c.goals.size()));
                for (std::size_t g : c.goals)
                    w.put(static_cast<uint64_t>(g));
                w.put_vector(c.seen.reached);
                w.put_vector(c.seen.outputs);
                w.put_vector(c.seen.vectors);
                w.send(fd);
            }
            FrameWriter('Z').send(fd);
        };
        auto on_message = [&](char, FrameReader& rd) {
            Chosen c;
            c.steps = get_steps(rd);
            c.goals.resize(rd.get<uint32_t>());
            for (auto& g : c.goals)
                g = static_cast<std::size_t>(rd.get<uint64_t>());
            c.seen.reached = rd.get_vector();
            c.seen.outputs = rd.get_vector<uint64_t>();
            c.seen.vectors = rd.get_vector();
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
