#pragma once

#include "base/Uuid.h"
#include "run/RunRecord.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace marrowbell::app {

// Follows the scheduler of another process of this user (the daemon) over its control
// channel, on a thread of its own that sleeps until the scheduler says something: which
// runs are in flight when the link is made, each run that starts or finishes, and each
// change. When the connection ends or cannot be made, `lost` is called and the link
// tries again every `retryDelay`.
class SchedulerLink {
public:
    static constexpr std::chrono::milliseconds retryDelay{1000};

    // Called on the link's thread, one at a time.
    struct Events {
        // Connected: the runs in flight, job identifier to job name.
        std::function<void(const std::unordered_map<Uuid, std::string>& running)> connected;
        std::function<void(const Uuid& job, const std::string& jobName)> runStarted;
        std::function<void(const Uuid& job, const RunRecord& record)> runFinished;
        std::function<void()> changed;
        std::function<void()> lost;
    };

    explicit SchedulerLink(Events events);
    // Ends the connection and waits for the thread.
    ~SchedulerLink();
    SchedulerLink(const SchedulerLink&) = delete;
    SchedulerLink& operator=(const SchedulerLink&) = delete;

    // Asks the running scheduler to run the job now; false when none answers. Blocks
    // for up to a few seconds: call it off the main thread.
    static bool requestRun(const Uuid& job);
    // Asks the running scheduler to cancel the job's runs; false when none answers.
    // Blocks like `requestRun`.
    static bool requestStop(const Uuid& job);

private:
    void run();
    // One connection, from subscribing to its end.
    void follow();
    // Sleeps for `delay` unless stopped first; whether to go on.
    bool pause(std::chrono::milliseconds delay);

    const Events events_;
    std::mutex mutex_; // guards stopping_ and fd_
    std::condition_variable wake_;
    bool stopping_ = false;
    int fd_ = -1; // the subscription's socket while connected
    std::thread thread_;
};

} // namespace marrowbell::app
