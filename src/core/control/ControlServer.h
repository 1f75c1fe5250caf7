#pragma once

#include "base/Instant.h"
#include "job/Job.h"
#include "job/JobStore.h"
#include "run/LiveRuns.h"
#include "run/RunRecord.h"
#include "scheduler/SchedulerService.h"
#include "scheduler/TaskGroup.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace marrowbell {

// Serves the control channel of the process that holds the scheduler lock: a Unix
// stream socket other processes of the same user connect to, to see what runs, start
// and stop runs, follow a run's output and hear of runs and changes. The protocol is
// in ControlProtocol and the README.
//
// One thread runs a poll loop over the socket and every connection; requests are
// handled there and never wait for a run. A connection of another user is closed
// unanswered. Every connection has bounded buffers: output lines a client does not
// read in time are dropped (it is told how many), a client that reads nothing for
// `stallTimeout` or never completes a request within `requestTimeout` is disconnected;
// the runs never wait for a client. A client that goes away cancels nothing.
//
// The services' callbacks reach it through `runFinished` and `changed`, output lines
// through LiveRuns. Every member may be called from any thread; the server's one
// mutex guards the connections' queues and roles, never held across a write to a
// socket or a call into another service.
class ControlServer : public std::enable_shared_from_this<ControlServer> {
public:
    struct Services {
        std::shared_ptr<SchedulerService> scheduler;
        std::shared_ptr<JobStore> jobs;
        std::shared_ptr<LiveRuns> live;
        std::string kind; // "daemon", "app" or "run": what holds the lock
        // Followed for the subscribers' "changed" events, when given.
        std::shared_ptr<EndpointStore> endpoints = {};
        std::shared_ptr<SettingsStore> settings = {};
    };
    struct Limits {
        std::size_t queueBytes = 8u << 20; // per connection, for output lines
        std::size_t connections = 64;
        std::chrono::milliseconds requestTimeout{10000};
        std::chrono::milliseconds stallTimeout{30000};
    };

    // Serves at `path`, replacing what is there (the caller holds the scheduler lock,
    // so a socket left there is a dead scheduler's), and listens to `services.live`.
    // Throws std::system_error when the socket cannot be made.
    static std::shared_ptr<ControlServer> start(Services services, std::filesystem::path path,
                                                Limits limits);
    static std::shared_ptr<ControlServer> start(Services services, std::filesystem::path path) {
        return start(std::move(services), std::move(path), Limits{});
    }

    // Stops serving: closes every connection and removes the socket. Runs it started go
    // on. Called by the destructor.
    void stop();
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // For subscribers: a run (or a skip) produced this record.
    void runFinished(const Job& job, const RunRecord& record);
    // For subscribers: "jobs", "endpoints" or "settings" may have changed. Called by
    // the server itself for the stores it was given.
    void changed(std::string_view what);

    const std::filesystem::path& path() const { return path_; }

private:
    struct Passkey {};

public:
    ControlServer(Passkey, Services services, std::filesystem::path path, Limits limits);

private:
    struct Connection;
    class Listener;
    using Clock = std::chrono::steady_clock;

    void loop(std::stop_token stop);
    void accept();
    void readFrom(Connection& connection);
    void handle(Connection& connection, std::string_view request);
    void status(Connection& connection);
    void runJob(Connection& connection, const Job& job, bool stream);
    void follow(Connection& connection, const Job& job);
    void pump(Connection& connection);
    void close(Connection& connection);
    // Starts a reply on a connection this thread serves; `last` closes it once sent.
    void reply(Connection& connection, const Json& message, bool last);
    // Queues a line for a connection; a droppable one is dropped when the queue is full.
    // With the mutex held.
    void enqueue(Connection& connection, std::string_view line, bool droppable);
    // Appends the notice of the lines dropped since the last one, if any. With the
    // mutex held.
    static void appendDropped(Connection& connection, std::string& to);
    // When the connection is closed for want of a request or of reading; none when it
    // waits for nothing. Loop thread only.
    std::optional<Clock::time_point> timeoutOf(const Connection& connection) const;
    void deliver(std::uint64_t connection, std::string_view line, bool droppable, bool last);
    void wake();

    // Listener callbacks.
    void runBegan(const LiveRun& run);
    void outputLine(const LiveRun& run, std::uint64_t length, OutputChannel channel,
                    std::string_view text);
    void outputLines(const LiveRun& run, std::uint64_t lengthBefore, OutputChannel channel,
                     std::span<const std::string_view> lines);
    void runEnded(const LiveRun& run, const std::optional<RunRecord>& record);

    const Services services_;
    const std::filesystem::path path_;
    const Limits limits_;
    const Instant since_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> wakePending_{false};
    std::atomic<int> followers_{0};
    std::uint64_t nextID_ = 1; // loop thread only

    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::shared_ptr<Connection>> connections_;
    std::unordered_map<Uuid, std::unordered_set<std::uint64_t>> followersByRun_;
    std::unordered_set<std::uint64_t> subscribers_;

    std::vector<Subscription> storeChanges_; // the stores' changes, for subscribers
    TaskGroup waiters_;                      // threads waiting for the records of runs started here
    std::jthread thread_;
};

} // namespace marrowbell
