#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace marrowbell {

// A labelled queue that runs its tasks one at a time, in submission order, on one
// worker thread of its own (started with the first task). Destroying the queue runs
// every task already submitted, then stops the worker.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // Queues `task` and returns at once. A task's exception is swallowed: the queue
    // keeps serving the tasks behind it.
    void async(std::function<void()> task);
    // Queues `task` and waits until it has run; called from a task of this queue it
    // runs `task` in place instead of waiting for itself.
    void sync(const std::function<void()>& task);

private:
    void work();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace marrowbell
