#include "SchedulerChannel.h"

#include "TerminalText.h"
#include "run/OutputChannel.h"

#include <algorithm>
#include <iostream>

namespace marrowbell::ctl {

const char* const noSchedulerMessage = "No Marrowbell scheduler is running.";

std::optional<ControlClient> connectToScheduler() {
    return ControlClient::connect();
}

bool takeFlag(std::vector<std::string>& arguments, std::string_view flag) {
    return std::erase(arguments, std::string(flag)) > 0;
}

void printOutput(const Json& event, bool json) {
    if (json) {
        std::cout << event.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        return;
    }
    auto line = event.find("line");
    auto stream = event.find("stream");
    if (line == event.end() || !line->is_string())
        return;
    std::optional<OutputChannel> channel = stream != event.end() && stream->is_string()
                                               ? outputChannelNamed(stream->get<std::string>())
                                               : std::nullopt;
    std::cout << transcriptPrefix(channel.value_or(OutputChannel::standardOutput))
              << printable(line->get<std::string>()) << "\n";
}

std::optional<RunRecord> finishedRecord(const Json& event) {
    auto record = event.find("record");
    if (record == event.end())
        return std::nullopt;
    try {
        return RunRecord::fromJson(*record);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

} // namespace marrowbell::ctl
