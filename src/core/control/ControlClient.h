#pragma once

#include "base/Json.h"
#include "run/OutputChannel.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// One connection to the scheduler's control channel (see ControlProtocol): sends
// requests and reads the server's messages line by line.
class ControlClient {
public:
    // A line the server sends may carry one line of output, which can be long.
    static constexpr std::size_t lineLimit = 80u << 20;

    // None when no scheduler answers at `path`: no socket there, or nobody listening
    // (a scheduler that was killed leaves its socket behind). Throws ControlError when
    // the socket's folder is not private.
    static std::optional<ControlClient> connect(const std::filesystem::path& path);
    static std::optional<ControlClient> connect();

    ControlClient(ControlClient&& other) noexcept;
    ControlClient& operator=(ControlClient&&) = delete;
    ~ControlClient();

    // Sends one request ("version" is added). Throws ControlError when the
    // scheduler went away.
    void send(Json request);

    enum class Read { message, output, timedOut, closed };
    // Waits at most `timeout` for the next message. Throws ControlError on a line
    // that is not a JSON object. Never answers `output`.
    Read read(Json& message, std::chrono::milliseconds timeout);

    // One "output" event, as `read` hands it over without building a Json.
    struct Output {
        OutputChannel channel = OutputChannel::standardOutput;
        std::string text;
    };
    // As `read`, but an "output" event fills `output` and answers `output` (every line
    // of a run's output comes as one, so it is decoded in a single pass); any other
    // message fills `message`.
    Read read(Json& message, Output& output, std::chrono::milliseconds timeout);
    // The next message, waiting at most `timeout`; throws ControlError when none comes,
    // the connection closes first, or the message is an "error" (its text the message).
    Json expect(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    int fd() const { return fd_; }

private:
    explicit ControlClient(int fd)
        : fd_(fd) {}
    // The next complete line (without its newline) out of what was received, waiting
    // at most until `timeout`; none with `read` set to why.
    std::optional<std::string_view> nextLine(std::chrono::milliseconds timeout, Read& why);
    Read decode(std::string_view line, Json& message, Output* output);

    int fd_ = -1;
    std::string buffer_; // received; what is before `consumed_` is read
    std::size_t consumed_ = 0;
    std::size_t scanned_ = 0; // searched for a newline up to here
};

} // namespace marrowbell
