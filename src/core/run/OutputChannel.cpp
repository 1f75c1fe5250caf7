#include "run/OutputChannel.h"

namespace marrowbell {

std::string_view name(OutputChannel channel) {
    switch (channel) {
    case OutputChannel::standardOutput:
        return "stdout";
    case OutputChannel::standardError:
        return "stderr";
    case OutputChannel::warning:
        return "warning";
    }
    return "stdout";
}

std::optional<OutputChannel> outputChannelNamed(std::string_view text) {
    for (OutputChannel channel :
         {OutputChannel::standardOutput, OutputChannel::standardError, OutputChannel::warning})
        if (name(channel) == text)
            return channel;
    return std::nullopt;
}

std::string_view transcriptPrefix(OutputChannel channel) {
    switch (channel) {
    case OutputChannel::standardOutput:
        return "";
    case OutputChannel::standardError:
        return "stderr: ";
    case OutputChannel::warning:
        return "warning: ";
    }
    return "";
}

} // namespace marrowbell
