#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace marrowbell {

// The threads of asynchronous tasks. Finished threads are joined when the next task is
// spawned, and every thread when the group is destroyed — except the one destroying
// the group, when a task dropped the last owner of it, which is left to end by itself.
class TaskGroup {
public:
    TaskGroup();
    ~TaskGroup();
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    void spawn(std::function<void()> body);

private:
    struct Finished;

    std::mutex mutex_; // guards threads_ only; never held while joining
    std::list<std::thread> threads_;
    std::shared_ptr<Finished> finished_;
};

} // namespace marrowbell
