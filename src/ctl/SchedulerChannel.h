#pragma once

#include "Command.h"
#include "control/ControlClient.h"
#include "control/ControlServer.h"
#include "run/RunRecord.h"
#include "service/CoreServices.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell::ctl {

// "No Marrowbell scheduler is running."
extern const char* const noSchedulerMessage;

// The running scheduler's control channel; none when no scheduler answers.
std::optional<ControlClient> connectToScheduler();

// Serves the control channel of `core` (which holds the scheduler lock) as `kind`
// ("daemon", "run"), telling its subscribers of every finished run (after
// `onRunFinished`) and change. When it cannot, says why on standard error and goes on
// without one: the jobs still run.
std::shared_ptr<ControlServer>
serveControl(CoreServices& core, const char* kind,
             std::function<void(const Job&, const RunRecord&)> onRunFinished = {});

// Removes every `flag` from `arguments`; whether there was one.
bool takeFlag(std::vector<std::string>& arguments, std::string_view flag);

// Prints one "output" event of the control channel as its transcript line, made safe
// for the terminal; with `json` the event itself, as one line.
void printOutput(const Json& event, bool json);
// Prints one line of output as its transcript line, made safe for the terminal.
void printOutput(OutputChannel channel, std::string_view text);

// The record a "runFinished" event carries, if any.
std::optional<RunRecord> finishedRecord(const Json& event);

} // namespace marrowbell::ctl
