// A function called at a fixed period on a thread of its own, from
// construction until destruction; for progress shown while the caller's
// thread waits on something else.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kiv::gen {

class Ticker {
public:
    Ticker(std::chrono::milliseconds period, std::function<void()> tick)
        : thread_([this, period, tick = std::move(tick)] {
              std::unique_lock<std::mutex> lock(mutex_);
              while (!cv_.wait_for(lock, period, [this] { return stop_; }))
                  tick();
          }) {}
    ~Ticker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread thread_;  // last: started once the members it uses exist
};

}  // namespace kiv::gen
