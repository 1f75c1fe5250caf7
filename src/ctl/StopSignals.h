#pragma once

#include <chrono>
#include <optional>

namespace marrowbell::ctl {

// SIGINT, SIGTERM and SIGHUP taken as requests to stop, read from a signalfd instead of
// interrupting whatever thread happens to run. Create it before any thread starts, so
// that every thread inherits the blocked mask; child processes get a clean mask from
// their spawner.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits for a stop signal, at most `timeout` when given; the signal's number, or
    // none when the time ran out.
    std::optional<int> wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

private:
    int fd_ = -1;
};

} // namespace marrowbell::ctl
