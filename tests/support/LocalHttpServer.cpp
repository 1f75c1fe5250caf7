#include "support/LocalHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace marrowbell::test {

static int listeningSocket(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::optional<std::string> LocalHttpServer::Request::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() || it->second.empty() ? std::nullopt
                                                     : std::optional(it->second.front());
}

LocalHttpServer::LocalHttpServer(Handler handler)
    : handler_(std::move(handler)) {
    listener_ = listeningSocket(port_);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
    char stop = 'x';
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
    heldOpen_.insert(heldOpen_.end(), {listener_, wake_[0], wake_[1]});
    for (int fd : heldOpen_)
        ::close(fd);
}

std::string LocalHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LocalHttpServer::reply(int status, const std::string& body,
                                   const std::string& contentType) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

int LocalHttpServer::closedPort() {
    int port = 0;
    ::close(listeningSocket(port));
    return port;
}

static LocalHttpServer::Request parseRequest(const std::string& raw) {
    LocalHttpServer::Request request;
    request.raw = raw;
    std::istringstream in(raw);
    std::string line;
    std::getline(in, line);
    std::istringstream(line) >> request.method >> request.target;
    // Header lines up to the blank one, names in lower case, values without leading blanks.
    while (std::getline(in, line) && line.ends_with('\r') && line.size() > 1) {
        line.pop_back();
        std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
        std::size_t start = line.find_first_not_of(' ', colon + 1);
        request.headers[name].push_back(start == std::string::npos ? "" : line.substr(start));
    }
    return request;
}

void LocalHttpServer::serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::string raw;
        char buffer[4096];
        while (raw.find("\r\n\r\n") == std::string::npos) {
            pollfd in[2] = {{client, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(in, 2, 5000) <= 0 || in[1].revents)
                break;
            ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            raw.append(buffer, static_cast<std::size_t>(n));
        }
        Request request = parseRequest(raw);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        std::optional<std::string> answer = handler_(request);
        if (!answer) {
            heldOpen_.push_back(client);
            continue;
        }
        for (std::size_t sent = 0; sent < answer->size();) {
            ssize_t n = ::send(client, answer->data() + sent, answer->size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        ::shutdown(client, SHUT_WR);
        ::close(client);
    }
}

} // namespace marrowbell::test
