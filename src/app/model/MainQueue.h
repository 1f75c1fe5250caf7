#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

namespace marrowbell::app {

// Hands work from any thread to the main thread, for as long as its owner lives: once
// closed, what is posted is dropped, so a background task that outlives the model
// never touches it. Shared by reference between the owner and its background work.
class MainQueue {
public:
    // `target` lives on the main thread; the calls run in its event loop.
    static std::shared_ptr<MainQueue> create(QObject* target);

    explicit MainQueue(QObject* target)
        : target_(target) {}

    // Queues `call` for the main thread; nothing once closed.
    void post(std::function<void()> call);
    // From the main thread: drops every later call (those already queued are dropped by
    // Qt with their target).
    void close();

private:
    std::mutex mutex_; // guards target_; held while posting so `close` waits for a post
    QObject* target_;
};

} // namespace marrowbell::app
