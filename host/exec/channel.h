// The one wire between kivrun and the children it starts: frames of a tag
// byte, a 32-bit payload length and the payload, written whole by the child
// and taken whole by the parent, and the shared-memory block both ends map.
// Both ends are the same binary, so values travel in host byte order.
#pragma once

#include "exec/child.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kiv {

// Exit status of a child whose channel to kivrun was closed under it (by the
// unit it runs), said as such rather than as a crash of its own.
inline constexpr int kChannelLost = 6;

// "SIGSEGV"; "signal 40" where the system has no name for it; empty for 0.
std::string signal_name(int sig);
// How a child ended, from its wait status: "SIGSEGV", "exited with status 3",
// "closed its channel to kivrun".
std::string describe_exit(int status);
// It returned from its body: exit status 0.
bool exited_cleanly(int status);

// Writes all n bytes across short writes and interruptions; false when the
// descriptor fails.
bool write_all(int fd, const void* data, std::size_t n);

// A frame being built in the child; send() writes it whole and starts the
// next with the same tag, keeping the buffer.
class FrameWriter {
public:
    static constexpr std::size_t kHeader = 1 + sizeof(uint32_t);
    explicit FrameWriter(char tag = 0) { start(tag); }
    void start(char tag) {
        buf_.assign(kHeader, '\0');
        buf_[0] = tag;
    }
    template <class T>
    void put(const T& v) {
        static_assert(std::is_trivially_copyable_v<T>);
        buf_.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    void put_bytes(const void* p, std::size_t n) {
        if (n) buf_.append(static_cast<const char*>(p), n);
    }
    // A count, then the elements.
    template <class T>
    void put_vector(const std::vector<T>& v) {
        put(static_cast<uint32_t>(v.size()));
        put_bytes(v.data(), v.size() * sizeof(T));
    }
    std::string_view payload() const { return std::string_view(buf_).substr(kHeader); }
    // Writes the frame and starts the next; a channel that fails ends the
    // child (kChannelLost when the unit closed it), never back into its code.
    void send(int fd);

private:
    std::string buf_;
};

// A payload being read in the parent; a read past its end throws Error
// "<what>: a child sent a truncated message".
class FrameReader {
public:
    FrameReader(std::string_view payload = {}, std::string what = "kivrun")
        : at_(payload.data()), end_(payload.data() + payload.size()), what_(std::move(what)) {}
    template <class T>
    T get() {
        static_assert(std::is_trivially_copyable_v<T>);
        T v{};
        std::memcpy(&v, take(sizeof v), sizeof v);
        return v;
    }
    template <class T = uint8_t>
    std::vector<T> get_vector() {
        const auto n = get<uint32_t>();
        if (static_cast<std::size_t>(end_ - at_) / sizeof(T) < n) truncated();
        std::vector<T> v(n);
        if (n) std::memcpy(v.data(), take(n * sizeof(T)), n * sizeof(T));
        return v;
    }
    std::size_t left() const { return static_cast<std::size_t>(end_ - at_); }

private:
    const char* take(std::size_t n) {
        if (left() < n) truncated();
        const char* p = at_;
        at_ += n;
        return p;
    }
    [[noreturn]] void truncated() const;
    const char* at_;
    const char* end_;
    std::string what_;
};

// The parent's end over a child's pipe.
class Channel {
public:
    explicit Channel(Child& child) : child_(child) {}
    enum class Got { frame, ended, timed_out };
    // The next whole frame, its payload valid until the next call: ended when
    // the child closed the channel (a frame cut short included), timed_out
    // when it made no progress in time and was killed.
    Got next(char& tag, std::string_view& payload);

private:
    Child& child_;
    std::string buf_;
    std::size_t at_ = 0;  // bytes of buf_ already taken
};

// An anonymous shared mapping, zero-filled, that a child forked after it
// shares with its parent; unmapped when the owner goes. `what` starts the
// Error thrown when it cannot be mapped.
class SharedBlock {
public:
    SharedBlock(std::size_t bytes, const std::string& what);
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    char* data() const { return static_cast<char*>(base_); }
    std::size_t size() const { return bytes_; }

private:
    void* base_;
    std::size_t bytes_;
};

}  // namespace kiv
