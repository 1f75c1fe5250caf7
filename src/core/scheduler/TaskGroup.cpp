#include "scheduler/TaskGroup.h"

#include <algorithm>
#include <vector>

namespace marrowbell {

// Shared with the threads, so a thread can report its end after the group is gone.
struct TaskGroup::Finished {
    std::mutex mutex;
    std::vector<std::thread::id> ids;
};

TaskGroup::TaskGroup()
    : finished_(std::make_shared<Finished>()) {}

TaskGroup::~TaskGroup() {
    std::list<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

void TaskGroup::spawn(std::function<void()> body) {
    std::list<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        std::lock_guard finishedLock(finished_->mutex);
        for (auto it = threads_.begin(); it != threads_.end();) {
            auto next = std::next(it);
            if (std::find(finished_->ids.begin(), finished_->ids.end(), it->get_id()) !=
                finished_->ids.end())
                done.splice(done.end(), threads_, it);
            it = next;
        }
        finished_->ids.clear();
        threads_.emplace_back([finished = finished_, body = std::move(body)]() mutable {
            body();
            body = nullptr;
            std::lock_guard lock(finished->mutex);
            finished->ids.push_back(std::this_thread::get_id());
        });
    }
    for (std::thread& thread : done)
        thread.join();
}

} // namespace marrowbell
