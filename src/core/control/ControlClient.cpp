#include "control/ControlClient.h"

#include "control/ControlProtocol.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace marrowbell {

std::optional<ControlClient> ControlClient::connect() {
    return connect(ControlProtocol::socketPath());
}

std::optional<ControlClient> ControlClient::connect(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw ControlError(std::string("Cannot make a socket: ") + std::strerror(errno));
    while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR)
            continue;
        ::close(fd);
        return std::nullopt;
    }
    return ControlClient(fd);
}

ControlClient::ControlClient(ControlClient&& other) noexcept
    : fd_(other.fd_)
    , buffer_(std::move(other.buffer_))
    , consumed_(other.consumed_)
    , scanned_(other.scanned_) {
    other.fd_ = -1;
}

ControlClient::~ControlClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ControlClient::send(Json request) {
    std::string line = ControlProtocol::line(std::move(request));
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::send(fd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (!(n < 0 && errno == EINTR))
            throw ControlError("The scheduler went away.");
    }
}

std::optional<std::string_view> ControlClient::nextLine(std::chrono::milliseconds timeout,
                                                        Read& why) {
    // Lines are taken off the front by moving `consumed_`, never by erasing: a chunk
    // holds hundreds of short lines.
    constexpr std::size_t chunk = 256 * 1024;
    // Read only once a wait is needed: most calls find a line already received.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        std::string_view received = std::string_view(buffer_).substr(scanned_);
        if (const void* found = std::memchr(received.data(), '\n', received.size())) {
            std::size_t newline =
                static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data());
            std::string_view line(buffer_.data() + consumed_, newline - consumed_);
            consumed_ = scanned_ = newline + 1;
            return line;
        }
        scanned_ = buffer_.size();
        if (buffer_.size() - consumed_ > lineLimit)
            throw ControlError("The scheduler sent an over-long message.");
        auto now = std::chrono::steady_clock::now();
        if (!deadline)
            deadline = now + timeout;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
        pollfd watched{fd_, POLLIN, 0};
        int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            why = Read::timedOut;
            return std::nullopt;
        }
        if (consumed_ > 0) { // keep only the incomplete line
            buffer_.erase(0, consumed_);
            scanned_ -= consumed_;
            consumed_ = 0;
        }
        std::size_t had = buffer_.size();
        buffer_.resize(had + chunk);
        ssize_t n = ::recv(fd_, buffer_.data() + had, chunk, 0);
        buffer_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = Read::closed;
            return std::nullopt;
        }
    }
}

ControlClient::Read ControlClient::decode(std::string_view line, Json& message, Output* output) {
    if (output && ControlProtocol::decodeOutputEvent(line, output->channel, output->text))
        return Read::output;
    std::optional<Json> parsed = json::parse(line);
    if (!parsed || !parsed->is_object())
        throw ControlError("The scheduler sent something that is not a message.");
    message = std::move(*parsed);
    return Read::message;
}

ControlClient::Read ControlClient::read(Json& message, std::chrono::milliseconds timeout) {
    Read why;
    std::optional<std::string_view> line = nextLine(timeout, why);
    return line ? decode(*line, message, nullptr) : why;
}

ControlClient::Read ControlClient::read(Json& message, Output& output,
                                        std::chrono::milliseconds timeout) {
    Read why;
    std::optional<std::string_view> line = nextLine(timeout, why);
    return line ? decode(*line, message, &output) : why;
}

Json ControlClient::expect(std::chrono::milliseconds timeout) {
    Json message;
    switch (read(message, timeout)) {
    case Read::timedOut:
        throw ControlError("The scheduler does not answer.");
    case Read::closed:
        throw ControlError("The scheduler closed the connection without an answer.");
    case Read::message:
    case Read::output:
        break;
    }
    if (auto error = message.find("error"); error != message.end() && error->is_string())
        throw ControlError(error->get<std::string>());
    return message;
}

} // namespace marrowbell
