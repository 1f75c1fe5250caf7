#pragma once

#include "scheduler/TimerQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace marrowbell {

// A TimerQueue on one worker thread of its own, named after `label`. The thread
// sleeps until the earliest started timer is due and runs due handlers one at a time;
// with no timer started it sleeps until one is. A cancelled timer is removed at once.
// Destroying the queue drops the timers that have not fired and waits for a running
// handler to return; a handler may destroy the queue's last owner itself.
class SerialTimerQueue : public TimerQueue {
public:
    explicit SerialTimerQueue(std::string label);
    ~SerialTimerQueue() override;
    SerialTimerQueue(const SerialTimerQueue&) = delete;
    SerialTimerQueue& operator=(const SerialTimerQueue&) = delete;

    const std::string& label() const { return label_; }

    std::unique_ptr<OneShotTimer> makeTimer(Seconds delay, std::function<void()> handler) override;

    // How many times the worker has woken up (to run a handler or otherwise); the
    // measure of an idle scheduler's cost.
    std::uint64_t wakeUps() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Shared;
    class Timer;

    const std::string label_;
    std::shared_ptr<Shared> shared_;
    std::atomic<std::uint64_t> nextNumber_{1};
    std::thread worker_;
};

} // namespace marrowbell
