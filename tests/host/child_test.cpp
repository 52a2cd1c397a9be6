// Starting a child process that fails, in every place kivrun starts one: the
// run's workers, the replay of failed checks, the MC/DC replay and the
// generator. Each must say why and leave no descriptor and no process behind.
#include "exec/channel.h"
#include "generate/supervise.h"
#include "kivrun.h"
#include "mcdc/mcdc_replay.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_test.h"

namespace {

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kExample = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv";

std::size_t open_descriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

pid_t failing_fork() {
    errno = EAGAIN;
    return -1;
}

enum class Failure { fork, pipe };

struct Starter {
    const char* name;
    Failure failure;
    const char* message;  // the Error names what could not start
    std::function<void(const kiv::Target&, const kiv::Plan&)> start;
};

kiv::RunResult all_passed(const kiv::Plan& plan) {
    kiv::RunResult r;
    r.cases.resize(plan.cases.size());
    for (auto& c : r.cases)
        c.status = kiv::CaseStatus::passed;
    return r;
}

void replay_failed_checks(const kiv::Target& t, const kiv::Plan& p) {
    kiv::replay(t, p, {0, 1}, 1.0, [](std::size_t, uint32_t, const std::vector<uint64_t>&) {});
}
void replay_mcdc(const kiv::Target& t, const kiv::Plan& p) {
    kiv::mcdc::replay(t, p, all_passed(p), {}, kiv::Isolation::snapshot, 1.0);
}
void run_workers(const kiv::Target& t, const kiv::Plan& p) {
    kiv::run(t, p, {});
}
void search(const kiv::Target& t, const kiv::Plan&) {
    kiv::gen::Runner runner(t, {});
    kiv::gen::GenerateOptions o;
    o.limits.max_executions = 10;
    kiv::gen::generate(runner, o);
}

const Starter kStarters[] = {
    {"ReplayOfFailedChecksWhenForkFails", Failure::fork, "cannot replay cases: cannot fork", replay_failed_checks},
    {"ReplayOfFailedChecksWhenPipeFails", Failure::pipe, "cannot replay cases: cannot create a pipe",
     replay_failed_checks},
    {"McdcReplayWhenForkFails", Failure::fork, "--mcdc: cannot start the replay: cannot fork", replay_mcdc},
    {"McdcReplayWhenPipeFails", Failure::pipe, "--mcdc: cannot start the replay: cannot create a pipe", replay_mcdc},
    {"RunWorkersWhenForkFails", Failure::fork, "cannot start a worker process: cannot fork", run_workers},
    {"GeneratorWhenForkFails", Failure::fork, "generate: cannot start the search: cannot fork", search},
    {"GeneratorWhenPipeFails", Failure::pipe, "generate: cannot start the search: cannot create a pipe", search},
};

class ChildThatCannotStart : public ::testing::TestWithParam<Starter> {};

TEST_P(ChildThatCannotStart, SaysWhyAndLeavesNoDescriptorOrProcess) {
    const Starter& row = GetParam();
    kiv::Target target(kLib);
    const kiv::Plan plan = kiv::load_suites({kExample}, target.schema(), {});
    const std::size_t before = open_descriptors();
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    std::string message;
    if (row.failure == Failure::fork) kiv::detail::fork_process = failing_fork;
    if (row.failure == Failure::pipe) {
        // No room for a new descriptor: the limit is the lowest one free.
        const int lowest_free = dup(0);
        close(lowest_free);
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(lowest_free);
        setrlimit(RLIMIT_NOFILE, &low);
    }
    // The failure is looked at only once descriptors are free again: the
    // sanitizers' own memory checks need a pipe too.
    std::exception_ptr failure;
    try {
        row.start(target, plan);
    } catch (...) {
        failure = std::current_exception();
    }
    kiv::detail::fork_process = ::fork;
    setrlimit(RLIMIT_NOFILE, &old);
    try {
        if (failure) std::rethrow_exception(failure);
    } catch (const kiv::Error& e) {
        message = e.what();
    }
    EXPECT_NE(message.find(row.message), std::string::npos) << message;
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

INSTANTIATE_TEST_SUITE_P(Starters, ChildThatCannotStart, ::testing::ValuesIn(kStarters),
                         [](const auto& info) { return std::string(info.param.name); });

// A unit that closes the descriptors it did not open (0 to 100) leaves the
// child's channel to kivrun alone: it lies far above them.
TEST(ChildChannel, OutlivesAUnitThatClosesTheLowDescriptors) {
    kiv::Child child("a child", [](int fd) {
        for (int d = 0; d <= 100; ++d)
            close(d);
        kiv::FrameWriter frame('K');
        frame.put_bytes("ok", 2);
        frame.send(fd);
    });
    kiv::Channel channel(child);
    char tag = 0;
    std::string_view payload;
    EXPECT_EQ(channel.next(tag, payload), kiv::Channel::Got::frame);
    EXPECT_EQ(tag, 'K');
    EXPECT_EQ(payload, "ok");
    const int status = child.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The parent's end of the channel over what a child may write: frames split
// across writes, several in one write, a frame cut short by the child's end.
// It takes exactly the whole frames, in order, then says the channel ended.
struct Wire {
    const char* name;
    std::vector<std::string> writes;  // raw bytes, each written on its own
    std::vector<std::pair<char, std::string>> frames;
};

std::string frame(char tag, const std::string& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    return std::string(1, tag) + std::string(reinterpret_cast<const char*>(&n), sizeof n) + payload;
}

const Wire kWires[] = {
    {"OneFrame", {frame('A', "abc")}, {{'A', "abc"}}},
    {"EmptyPayload", {frame('Z', "")}, {{'Z', ""}}},
    {"TwoFramesInOneWrite", {frame('A', "x") + frame('B', "yz")}, {{'A', "x"}, {'B', "yz"}}},
    {"HeaderSplitAcrossWrites", {frame('A', "abc").substr(0, 2), frame('A', "abc").substr(2)}, {{'A', "abc"}}},
    {"PayloadCutShortByTheEnd", {frame('A', "ok") + frame('B', "abcdef").substr(0, 8)}, {{'A', "ok"}}},
    {"HeaderCutShortByTheEnd", {frame('A', "ok") + "B\x01"}, {{'A', "ok"}}},
    {"LargeFrame", {frame('L', std::string(200000, 'q'))}, {{'L', std::string(200000, 'q')}}},
};

class ChannelReads : public ::testing::TestWithParam<Wire> {};

TEST_P(ChannelReads, TheWholeFramesThenTheEnd) {
    const Wire& w = GetParam();
    kiv::Child child("a child", [&](int fd) {
        for (const std::string& bytes : w.writes) {
            if (!kiv::write_all(fd, bytes.data(), bytes.size())) _exit(7);
            usleep(2000);  // each write arrives on its own
        }
    });
    kiv::Channel channel(child);
    char tag = 0;
    std::string_view payload;
    for (const auto& [want_tag, want] : w.frames) {
        ASSERT_EQ(channel.next(tag, payload), kiv::Channel::Got::frame);
        EXPECT_EQ(tag, want_tag);
        EXPECT_EQ(payload, want);
    }
    EXPECT_EQ(channel.next(tag, payload), kiv::Channel::Got::ended);
    EXPECT_EQ(kiv::describe_exit(child.wait()), "exited with status 0");
}

INSTANTIATE_TEST_SUITE_P(Wires, ChannelReads, ::testing::ValuesIn(kWires),
                         [](const auto& info) { return std::string(info.param.name); });

// How a child ended, as every message about a child says it.
TEST(DescribeExit, NamesTheSignalOrTheStatus) {
    const std::pair<std::function<void()>, const char*> rows[] = {
        {[] { raise(SIGTERM); }, "SIGTERM"},
        {[] { _exit(3); }, "exited with status 3"},
        {[] { _exit(kiv::kChannelLost); }, "closed its channel to kivrun"},
    };
    for (const auto& row : rows) {
        kiv::ChildOptions co;
        co.pipe = false;
        kiv::Child child("a child", [&](int) { row.first(); }, co);
        EXPECT_EQ(kiv::describe_exit(child.wait()), row.second);
    }
}

}  // namespace
