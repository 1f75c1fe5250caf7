#include "scheduler/SerialTimerQueue.h"

#include <algorithm>
#include <cmath>
#include <pthread.h>

namespace marrowbell {

struct SerialTimerQueue::Shared {
    struct Entry {
        Clock::time_point deadline;
        std::function<void()> handler;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::uint64_t, Entry> started; // by timer number
    std::uint64_t wakeUps = 0;
    bool stopping = false;
};

class SerialTimerQueue::Timer : public OneShotTimer {
public:
    Timer(std::weak_ptr<Shared> shared, std::uint64_t number, Seconds delay,
          std::function<void()> handler)
        : shared_(std::move(shared))
        , number_(number)
        , delay_(delay)
        , handler_(std::move(handler)) {}

    ~Timer() override = default;

    void start() override {
        auto shared = shared_.lock();
        if (!shared)
            return;
        {
            std::lock_guard lock(shared->mutex);
            if (state_ != State::idle)
                return;
            state_ = State::started;
            // Far beyond any wake-up the scheduler arms, and safe from overflow.
            Seconds delay = std::isfinite(delay_) ? std::clamp(delay_, 0.0, 1e9) : 1e9;
            auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(delay));
            shared->started.emplace(number_, Shared::Entry{deadline, std::move(handler_)});
        }
        shared->wake.notify_one();
    }

    void cancel() override {
        auto shared = shared_.lock();
        if (!shared)
            return;
        bool wasStarted = false;
        {
            std::lock_guard lock(shared->mutex);
            wasStarted = shared->started.erase(number_) > 0;
            state_ = State::cancelled;
            handler_ = nullptr;
        }
        if (wasStarted)
            shared->wake.notify_one(); // the worker may be sleeping until this deadline
    }

private:
    enum class State { idle, started, cancelled };

    const std::weak_ptr<Shared> shared_;
    const std::uint64_t number_;
    const Seconds delay_;
    std::function<void()> handler_; // moved into the queue by `start`
    State state_ = State::idle;     // guarded by the queue's mutex
};

SerialTimerQueue::SerialTimerQueue(std::string label)
    : label_(std::move(label))
    , shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([shared = shared_, label = label_] {
        // Thread names hold 15 bytes: keep the label's most specific end.
        std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
        if (!name.empty() && name.front() == '.')
            name.erase(0, 1);
        pthread_setname_np(pthread_self(), name.c_str());

        std::unique_lock lock(shared->mutex);
        for (;;) {
            if (shared->stopping)
                return;
            auto earliest = std::min_element(
                shared->started.begin(), shared->started.end(),
                [](const auto& a, const auto& b) { return a.second.deadline < b.second.deadline; });
            if (earliest == shared->started.end()) {
                shared->wake.wait(lock);
                ++shared->wakeUps;
                continue;
            }
            if (Clock::now() < earliest->second.deadline) {
                // A copy: cancelling the timer while the worker sleeps removes its entry.
                const Clock::time_point deadline = earliest->second.deadline;
                shared->wake.wait_until(lock, deadline);
                ++shared->wakeUps;
                continue;
            }
            std::function<void()> handler = std::move(earliest->second.handler);
            shared->started.erase(earliest);
            lock.unlock();
            try {
                handler();
            } catch (...) {
                // A handler's failure must not stop later wake-ups.
            }
            handler = nullptr; // release what it captured before taking the lock again
            lock.lock();
        }
    });
}

SerialTimerQueue::~SerialTimerQueue() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->started.clear();
    }
    shared_->wake.notify_one();
    if (worker_.get_id() == std::this_thread::get_id())
        worker_.detach(); // a handler dropped the last owner; the worker ends after it
    else
        worker_.join();
}

std::unique_ptr<OneShotTimer> SerialTimerQueue::makeTimer(Seconds delay,
                                                          std::function<void()> handler) {
    std::uint64_t number = nextNumber_.fetch_add(1, std::memory_order_relaxed);
    return std::make_unique<Timer>(shared_, number, delay, std::move(handler));
}

std::uint64_t SerialTimerQueue::wakeUps() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->wakeUps;
}

} // namespace marrowbell
