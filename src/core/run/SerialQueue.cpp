#include "run/SerialQueue.h"

#include <future>
#include <pthread.h>

namespace marrowbell {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        if (!worker_.joinable())
            worker_ = std::thread([this] { work(); });
    }
    wake_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& task) {
    {
        std::lock_guard lock(mutex_);
        if (worker_.joinable() && worker_.get_id() == std::this_thread::get_id()) {
            task(); // waiting here for the queue would wait for ourselves
            return;
        }
    }
    std::promise<void> done;
    async([&] {
        try {
            task();
        } catch (...) {
            done.set_exception(std::current_exception());
            return;
        }
        done.set_value();
    });
    done.get_future().get();
}

void SerialQueue::work() {
    // Thread names hold 15 bytes: keep the label's most specific end ("history.writes").
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    if (!name.empty() && name.front() == '.')
        name.erase(0, 1);
    pthread_setname_np(pthread_self(), name.c_str());
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            return; // stopping, and everything submitted has run
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
        }
        task = nullptr; // release what the task captured before taking the lock again
        lock.lock();
    }
}

} // namespace marrowbell
