#pragma once

#include "base/Subscription.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// Where an observer is called: given a call, runs it now or hands it to a thread or
// queue of the subscriber's choosing ("post this onto my main thread"). An empty
// executor calls on the notifying thread.
using Executor = std::function<void(std::function<void()>)>;

// The observers of one store, told of each `Change`.
//
// `notify` is called with no store lock held and calls every observer subscribed at
// that moment, each through its executor. An observer that throws is ignored and the
// others are still told. One observer is never called twice at once, and a change
// notified from inside an observer (it changed the store again) is delivered after
// the current one, to every observer, rather than nested inside it.
//
// Once its Subscription is destroyed an observer is not called again, and the
// destruction waits for a call already running on another thread; destroyed from
// inside its own call, it returns at once and that call finishes normally.
template <class Change> class ObserverList {
public:
    using Observer = std::function<void(const Change&)>;

    ObserverList()
        : state_(std::make_shared<State>()) {}
    ObserverList(const ObserverList&) = delete;
    ObserverList& operator=(const ObserverList&) = delete;

    [[nodiscard]] Subscription subscribe(Observer observer, Executor executor = {}) {
        auto entry = std::make_shared<Entry>(std::move(observer), std::move(executor));
        {
            std::lock_guard lock(state_->mutex);
            state_->entries.push_back(entry);
        }
        return Subscription([weakState = std::weak_ptr<State>(state_), entry] {
            if (auto state = weakState.lock()) {
                std::lock_guard lock(state->mutex);
                std::erase(state->entries, entry);
            }
            entry->close();
        });
    }

    void notify(const Change& change) {
        const std::shared_ptr<State> state = state_; // the list may go away inside a call
        const auto self = std::this_thread::get_id();
        std::vector<std::shared_ptr<Entry>> entries;
        {
            std::lock_guard lock(state->mutex);
            auto [delivering, outermost] = state->delivering.try_emplace(self);
            if (!outermost) {
                delivering->second.push_back(change);
                return;
            }
            entries = state->entries;
        }
        auto current = std::make_shared<const Change>(change);
        for (;;) {
            for (const auto& entry : entries)
                entry->deliver(current);
            std::lock_guard lock(state->mutex);
            auto& pending = state->delivering[self];
            if (pending.empty()) {
                state->delivering.erase(self);
                return;
            }
            current = std::make_shared<const Change>(std::move(pending.front()));
            pending.pop_front();
            entries = state->entries;
        }
    }

    std::size_t size() const {
        std::lock_guard lock(state_->mutex);
        return state_->entries.size();
    }

private:
    class Entry : public std::enable_shared_from_this<Entry> {
    public:
        Entry(Observer observer, Executor executor)
            : observer_(std::move(observer))
            , executor_(std::move(executor)) {}

        void deliver(const std::shared_ptr<const Change>& change) {
            if (closed_)
                return;
            if (!executor_)
                return call(*change);
            try {
                executor_([self = this->shared_from_this(), change] { self->call(*change); });
            } catch (...) {
                // An executor that cannot take the call (its queue is closing) loses
                // only its own subscriber's call.
            }
        }

        void close() {
            if (caller_.load() == std::this_thread::get_id()) {
                closed_ = true; // inside its own call: the call finishes, nothing follows
                return;
            }
            std::lock_guard lock(calling_);
            closed_ = true;
            observer_ = nullptr;
        }

    private:
        void call(const Change& change) {
            std::lock_guard lock(calling_);
            if (closed_)
                return;
            caller_ = std::this_thread::get_id();
            try {
                observer_(change);
            } catch (...) {
                // The observer's failure is its own; the other observers are still told.
            }
            caller_ = std::thread::id();
            if (closed_)
                observer_ = nullptr; // closed from inside: release what it holds now
        }

        std::mutex calling_; // held for a call; `close` waits on it
        std::atomic<std::thread::id> caller_{};
        std::atomic<bool> closed_{false};
        Observer observer_;
        const Executor executor_;
    };

    struct State {
        mutable std::mutex mutex; // never held while calling an observer
        std::vector<std::shared_ptr<Entry>> entries;
        // Threads inside `notify`, with the changes notified meanwhile from their calls.
        std::unordered_map<std::thread::id, std::deque<Change>> delivering;
    };

    const std::shared_ptr<State> state_;
};

} // namespace marrowbell
