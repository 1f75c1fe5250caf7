#include "control/ControlClient.h"

#include "control/ControlProtocol.h"

#include <cerrno>
#include <cstring>
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
    , buffer_(std::move(other.buffer_)) {
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

ControlClient::Read ControlClient::read(Json& message, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::size_t newline = buffer_.find('\n'); newline != std::string::npos) {
            std::optional<Json> parsed = json::parse(std::string_view(buffer_).substr(0, newline));
            buffer_.erase(0, newline + 1);
            if (!parsed || !parsed->is_object())
                throw ControlError("The scheduler sent something that is not a message.");
            message = std::move(*parsed);
            return Read::message;
        }
        if (buffer_.size() > lineLimit)
            throw ControlError("The scheduler sent an over-long message.");
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        pollfd watched{fd_, POLLIN, 0};
        int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Read::timedOut;
        char chunk[65536];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Read::closed;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

Json ControlClient::expect(std::chrono::milliseconds timeout) {
    Json message;
    switch (read(message, timeout)) {
    case Read::timedOut:
        throw ControlError("The scheduler does not answer.");
    case Read::closed:
        throw ControlError("The scheduler closed the connection without an answer.");
    case Read::message:
        break;
    }
    if (auto error = message.find("error"); error != message.end() && error->is_string())
        throw ControlError(error->get<std::string>());
    return message;
}

} // namespace marrowbell
