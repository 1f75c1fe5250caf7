#pragma once

#include "Command.h"
#include "control/ControlClient.h"
#include "run/RunRecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell::ctl {

// "No Marrowbell scheduler is running."
extern const char* const noSchedulerMessage;

// The running scheduler's control channel; none when no scheduler answers.
std::optional<ControlClient> connectToScheduler();

// Removes every `flag` from `arguments`; whether there was one.
bool takeFlag(std::vector<std::string>& arguments, std::string_view flag);

// Prints one "output" event of the control channel as its transcript line, made safe
// for the terminal; with `json` the event itself, as one line.
void printOutput(const Json& event, bool json);

// The record a "runFinished" event carries, if any.
std::optional<RunRecord> finishedRecord(const Json& event);

} // namespace marrowbell::ctl
