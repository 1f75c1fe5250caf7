#include "run/LineRelay.h"

#include <pthread.h>
#include <system_error>

namespace marrowbell {

LineRelay::LineRelay(Consumer consumer)
    : consumer_(std::move(consumer)) {
    try {
        thread_ = std::jthread([this] { consume(); });
        threaded_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: the lines are handed over as they come.
    }
}

LineRelay::~LineRelay() {
    try {
        finish();
    } catch (...) {
    }
}

void LineRelay::push(std::span<const std::string_view> lines) {
    if (lines.empty())
        return;
    if (!threaded_) {
        consumer_(lines);
        return;
    }
    Batch batch;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queuedWeight_ < waitingLimit; });
        if (!spare_.empty()) {
            batch = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    for (std::string_view line : lines) {
        batch.bytes.append(line);
        batch.ends.push_back(batch.bytes.size());
    }
    {
        std::lock_guard lock(mutex_);
        queuedWeight_ += batch.weight();
        queued_.push_back(std::move(batch));
    }
    changed_.notify_all();
}

void LineRelay::finish() {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (std::exception_ptr failure = std::exchange(failure_, nullptr))
        std::rethrow_exception(failure);
}

void LineRelay::consume() {
    pthread_setname_np(pthread_self(), "mb.parse");
    std::vector<std::string_view> lines;
    bool failed = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queued_.empty() || finishing_; });
        if (queued_.empty())
            return;
        Batch batch = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        lines.clear();
        std::size_t start = 0;
        for (std::size_t end : batch.ends) {
            lines.emplace_back(batch.bytes.data() + start, end - start);
            start = end;
        }
        std::exception_ptr failure;
        if (!failed) {
            try {
                consumer_(lines);
            } catch (...) {
                failure = std::current_exception();
                failed = true;
            }
        }
        std::size_t weight = batch.weight();
        batch.bytes.clear();
        batch.ends.clear();
        lock.lock();
        if (failure)
            failure_ = failure;
        queuedWeight_ -= weight;
        spare_.push_back(std::move(batch));
        changed_.notify_all();
    }
}

} // namespace marrowbell
