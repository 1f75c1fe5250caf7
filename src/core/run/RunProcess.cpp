#include "run/RunProcess.h"

#include "run/ProcessGuard.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace marrowbell {

std::optional<std::uint64_t> RunProcess::startTime(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return std::nullopt;
    // The command name may hold spaces and parentheses; the fields follow the last ')'.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // Field 3 (state) comes first here; the start time is field 22.
    for (int number = 3; number < 22; ++number)
        if (!(fields >> field))
            return std::nullopt;
    std::uint64_t ticks = 0;
    if (!(fields >> ticks))
        return std::nullopt;
    return ticks;
}

namespace {

// Whether `pid` is still the process that started at `start`.
bool sameProcess(pid_t pid, std::uint64_t start) {
    auto now = RunProcess::startTime(pid);
    return now && *now == start;
}

} // namespace

void RunProcess::end() const {
    if (guard > 0 && sameProcess(guard, guardStartTime)) {
        ::kill(guard, ProcessGuard::killSignal);
        for (int i = 0; i < 100 && sameProcess(guard, guardStartTime); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (group <= 1)
        return;
    auto leader = startTime(group);
    if (leader && *leader != groupStartTime)
        return; // the id belongs to another process now
    ::kill(-group, SIGKILL);
}

} // namespace marrowbell
