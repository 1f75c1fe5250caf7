#include "SchedulerChannel.h"

#include "TerminalText.h"
#include "control/ControlProtocol.h"
#include "run/OutputChannel.h"

#include <algorithm>
#include <iostream>

namespace marrowbell::ctl {

const char* const noSchedulerMessage = "No Marrowbell scheduler is running.";

std::optional<ControlClient> connectToScheduler() {
    return ControlClient::connect();
}

std::shared_ptr<ControlServer>
serveControl(CoreServices& core, const char* kind,
             std::function<void(const Job&, const RunRecord&)> onRunFinished) {
    std::shared_ptr<ControlServer> server;
    try {
        server = ControlServer::start(
            {core.scheduler(), core.jobs(), core.live(), kind, core.endpoints(), core.settings()},
            ControlProtocol::socketPath());
    } catch (const std::exception& error) {
        std::cerr << "marrowbellctl: no control channel (" << error.what()
                  << "); marrowbellctl status, stop and follow cannot reach this scheduler.\n";
    }
    std::weak_ptr<ControlServer> weak = server;
    core.scheduler()->setOnRunFinished(
        [weak, onRunFinished](const Job& job, const RunRecord& record) {
            if (onRunFinished)
                onRunFinished(job, record);
            if (auto server = weak.lock())
                server->runFinished(job, record);
        });
    // Anything of the jobs may have changed after a tick or a run.
    core.scheduler()->setOnChange([weak] {
        if (auto server = weak.lock())
            server->changed("jobs");
    });
    return server;
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
    printOutput(channel.value_or(OutputChannel::standardOutput), line->get<std::string>());
}

void printOutput(OutputChannel channel, std::string_view text) {
    std::cout << transcriptPrefix(channel) << printable(text) << "\n";
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
