#pragma once

#include <optional>
#include <string_view>

namespace marrowbell {

// Where a line of a run's output came from.
enum class OutputChannel {
    standardOutput, // the harness's standard output, as received
    standardError,  // the harness's standard error
    warning,        // a warning of the command builder or of Marrowbell itself
};

// "stdout", "stderr", "warning": the names the control channel uses.
std::string_view name(OutputChannel channel);
std::optional<OutputChannel> outputChannelNamed(std::string_view name);

// How a transcript marks a line that is not standard output: "stderr: " and
// "warning: "; standard output lines are kept verbatim.
std::string_view transcriptPrefix(OutputChannel channel);

} // namespace marrowbell
