#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace marrowbell::test {

// A tiny server on 127.0.0.1 (ephemeral port) answering one request per
// connection from a background thread. The handler returns the raw bytes to send
// back (so a reply need not be HTTP at all), or none to keep the connection open
// without ever answering.
class LocalHttpServer {
public:
    struct Request {
        std::string method;
        std::string target;
        std::map<std::string, std::vector<std::string>> headers; // names in lower case
        std::string raw;

        // The value of the first header of that (lower-case) name; none when absent.
        std::optional<std::string> header(const std::string& name) const;
    };
    using Handler = std::function<std::optional<std::string>(const Request&)>;

    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:{port}{path}".
    std::string url(const std::string& path = "") const;
    std::vector<Request> requests() const;

    // A complete HTTP/1.1 reply with that status and body.
    static std::string reply(int status, const std::string& body,
                             const std::string& contentType = "application/json");
    // A port on 127.0.0.1 that nothing listens on (bound, then closed).
    static int closedPort();

private:
    void serve();

    Handler handler_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::vector<int> heldOpen_;
    std::thread thread_;
};

} // namespace marrowbell::test
