#include "control/ControlServer.h"

#include "control/ControlProtocol.h"
#include "run/RunTranscript.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace marrowbell {

namespace {

constexpr std::size_t readChunk = 64 * 1024;
constexpr std::size_t backlogChunk = 256 * 1024;
// How often the transcripts of runs in flight are written out when their harness is
// quiet. With no run in flight and no time-out pending the loop sleeps until an event.
constexpr std::chrono::milliseconds flushPeriod{200};

Json errorMessage(const std::string& text) {
    return Json{{"error", text}};
}

} // namespace

struct ControlServer::Connection {
    std::uint64_t id = 0;
    int fd = -1;

    // Loop thread only.
    std::string input;
    Clock::time_point inputSince; // when the incomplete request began (or the connection)
    bool requested = false;       // a complete request arrived
    bool answered = false;        // the last reply is on its way: further requests are ignored
    bool inputClosed = false;     // the client sent all it will (a half-close): answers still go
    std::string sending;          // being written; after it the backlog, then `queue`
    std::size_t sent = 0;
    Clock::time_point lastProgress;
    std::unique_ptr<TranscriptReader> backlog;
    bool closed = false;

    // Guarded by the server's mutex.
    std::string queue;
    std::uint64_t dropped = 0;
    bool closeWhenDrained = false;
    std::stop_source run; // the run this connection started, if any
    bool hasRun = false;
    std::optional<Uuid> following;
    bool followEnded = false;
    // While the backlog boundary of a new follower is not known yet: each queued
    // line's transcript length and where it starts in `queue`.
    std::optional<std::uint64_t> threshold;
    std::vector<std::pair<std::uint64_t, std::size_t>> unfiltered;
    std::size_t unfilteredEnd = 0; // where the last of them ends in `queue`
};

class ControlServer::Listener : public LiveRuns::Listener {
public:
    explicit Listener(std::weak_ptr<ControlServer> server)
        : server_(std::move(server)) {}
    void runBegan(const LiveRun& run) override {
        if (auto server = server_.lock())
            server->runBegan(run);
    }
    void outputLine(const LiveRun& run, std::uint64_t length, OutputChannel channel,
                    std::string_view text) override {
        if (auto server = server_.lock())
            server->outputLine(run, length, channel, text);
    }
    void outputLines(const LiveRun& run, std::uint64_t lengthBefore, OutputChannel channel,
                     std::span<const std::string_view> lines) override {
        if (auto server = server_.lock())
            server->outputLines(run, lengthBefore, channel, lines);
    }
    void runEnded(const LiveRun& run, const std::optional<RunRecord>& record) override {
        if (auto server = server_.lock())
            server->runEnded(run, record);
    }

private:
    std::weak_ptr<ControlServer> server_;
};

static Json liveRunJson(const LiveRun& run) {
    Json value = {{"run", run.runID.text()},
                  {"job", run.jobID.text()},
                  {"jobName", run.jobName},
                  {"startedAt", run.startedAt.sinceReference},
                  {"elapsed", std::max(0.0, Instant::now() - run.startedAt)}};
    if (run.processID)
        value["pid"] = *run.processID;
    return value;
}

std::shared_ptr<ControlServer> ControlServer::start(Services services, std::filesystem::path path,
                                                    Limits limits) {
    auto server =
        std::make_shared<ControlServer>(Passkey{}, std::move(services), std::move(path), limits);
    if (server->services_.live)
        server->services_.live->setListener(std::make_shared<Listener>(server));
    auto tell = [weak = std::weak_ptr<ControlServer>(server)](const char* what) {
        return [weak, what](const auto&) {
            if (auto self = weak.lock())
                self->changed(what);
        };
    };
    const Services& given = server->services_;
    if (given.jobs)
        server->storeChanges_.push_back(given.jobs->subscribe(tell("jobs")));
    if (given.endpoints)
        server->storeChanges_.push_back(given.endpoints->subscribe(tell("endpoints")));
    if (given.settings)
        server->storeChanges_.push_back(given.settings->subscribe(tell("settings")));
    server->thread_ = std::jthread([raw = server.get()](std::stop_token stop) { raw->loop(stop); });
    return server;
}

ControlServer::ControlServer(Passkey, Services services, std::filesystem::path path, Limits limits)
    : services_(std::move(services))
    , path_(std::move(path))
    , limits_(limits)
    , since_(Instant::now()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.native().size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), path_.string());
    std::memcpy(address.sun_path, path_.c_str(), path_.native().size() + 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (listenFd_ < 0 || wakeFd_ < 0) {
        int error = errno;
        stop();
        throw std::system_error(error, std::generic_category(), "cannot make the control socket");
    }
    // Only the lock holder gets here, so whatever is at the path is a dead scheduler's.
    ::unlink(path_.c_str());
    // Bound with mode 0600 whatever the umask; the folder is 0700 as well.
    mode_t previous = ::umask(0177);
    int bound = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = errno;
    ::umask(previous);
    if (bound != 0 || ::listen(listenFd_, 32) != 0) {
        if (bound == 0)
            error = errno;
        ::close(listenFd_);
        ::close(wakeFd_);
        listenFd_ = wakeFd_ = -1;
        throw std::system_error(error, std::generic_category(), "cannot serve " + path_.string());
    }
}

ControlServer::~ControlServer() {
    stop();
}

void ControlServer::stop() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.request_stop();
        wake();
        thread_.join();
    }
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, connection] : connections_)
            connections.push_back(connection);
        connections_.clear();
        followersByRun_.clear();
        subscribers_.clear();
    }
    for (const auto& connection : connections)
        if (connection->fd >= 0) {
            ::close(connection->fd);
            connection->fd = -1;
        }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
        listenFd_ = -1;
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
}

void ControlServer::wake() {
    if (!wakePending_.exchange(true) && wakeFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    }
}

void ControlServer::enqueue(Connection& connection, std::string_view line, bool droppable) {
    if (droppable && connection.queue.size() + line.size() > limits_.queueBytes) {
        ++connection.dropped;
        return;
    }
    bool wasEmpty = connection.queue.empty();
    // The client hears of lost lines where they were lost: before the next line it gets
    // (such as the run's end, which is never dropped).
    appendDropped(connection, connection.queue);
    connection.queue.append(line);
    if (wasEmpty)
        wake();
}

void ControlServer::appendDropped(Connection& connection, std::string& to) {
    if (connection.dropped == 0)
        return;
    to.append(ControlProtocol::line({{"event", "dropped"}, {"lines", connection.dropped}}));
    connection.dropped = 0;
}

void ControlServer::deliver(std::uint64_t id, std::string_view line, bool droppable, bool last) {
    std::lock_guard lock(mutex_);
    auto found = connections_.find(id);
    if (found == connections_.end())
        return;
    enqueue(*found->second, line, droppable);
    if (last) {
        found->second->closeWhenDrained = true;
        wake();
    }
}

void ControlServer::loop(std::stop_token stop) {
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Connection>> polled;
    Clock::time_point nextFlush = Clock::now() + flushPeriod;
    while (!stop.stop_requested()) {
        std::vector<std::shared_ptr<Connection>> connections;
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, connection] : connections_)
                connections.push_back(connection);
        }
        // Write what can be written before sleeping.
        for (const auto& connection : connections)
            pump(*connection);

        fds.clear();
        polled.clear();
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        std::optional<Clock::time_point> deadline;
        auto until = [&deadline](Clock::time_point at) {
            deadline = deadline ? std::min(*deadline, at) : at;
        };
        bool runsInFlight = services_.live && services_.live->anyInFlight();
        if (runsInFlight)
            until(nextFlush);
        for (const auto& connection : connections) {
            if (connection->closed)
                continue;
            if (auto timeout = timeoutOf(*connection))
                until(*timeout);
            bool sending = connection->sent < connection->sending.size();
            if (connection->inputClosed && !sending)
                continue; // nothing to read or write until more output is queued
            short events = !connection->inputClosed &&
                                   connection->input.size() <= ControlProtocol::requestLimit
                               ? POLLIN
                               : 0;
            if (sending)
                events |= POLLOUT;
            fds.push_back({connection->fd, events, 0});
            polled.push_back(connection);
        }
        int timeout = -1; // an idle scheduler's control thread does not wake up
        if (deadline) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, 60000));
        }
        int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fds[1].revents) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
        }
        wakePending_.store(false);
        if (fds[0].revents)
            accept();
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Connection& connection = *polled[i];
            short revents = fds[i + 2].revents;
            if (revents & POLLIN)
                readFrom(connection);
            else if (revents & (POLLERR | POLLHUP | POLLNVAL))
                close(connection);
            if ((revents & POLLOUT) && !connection.closed)
                pump(connection);
        }

        Clock::time_point now = Clock::now();
        if (runsInFlight && now >= nextFlush) {
            nextFlush = now + flushPeriod;
            services_.live->flushAll();
        } else if (!runsInFlight) {
            nextFlush = now + flushPeriod; // a run that begins is written out a period later
        }
        for (const auto& connection : connections)
            if (auto timeout = timeoutOf(*connection); timeout && now >= *timeout)
                close(*connection);
    }
}

std::optional<ControlServer::Clock::time_point>
ControlServer::timeoutOf(const Connection& connection) const {
    if (connection.closed)
        return std::nullopt;
    std::optional<Clock::time_point> at;
    if (!connection.requested || !connection.input.empty())
        at = connection.inputSince + limits_.requestTimeout;
    if (connection.sent < connection.sending.size()) {
        Clock::time_point stalled = connection.lastProgress + limits_.stallTimeout;
        at = at ? std::min(*at, stalled) : stalled;
    }
    return at;
}

void ControlServer::accept() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t size = sizeof peer;
        bool sameUser =
            ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        connection->id = nextID_++;
        connection->inputSince = connection->lastProgress = Clock::now();
        {
            std::lock_guard lock(mutex_);
            if (sameUser && connections_.size() < limits_.connections) {
                connections_.emplace(connection->id, connection);
                continue;
            }
        }
        ::close(fd); // another user's process, or too many: no answer at all
    }
}

void ControlServer::readFrom(Connection& connection) {
    char buffer[readChunk];
    ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 && connection.requested) {
        // Done sending (`socat`, `nc -N`): the answers still go, until a write fails.
        connection.inputClosed = true;
        connection.input.clear();
        return;
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        close(connection); // the client went away: whatever it started goes on
        return;
    }
    if (n < 0)
        return;
    if (connection.input.empty())
        connection.inputSince = Clock::now();
    connection.input.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t newline; !connection.closed && !connection.answered &&
                              (newline = connection.input.find('\n', start)) != std::string::npos;
         start = newline + 1) {
        if (newline - start > ControlProtocol::requestLimit)
            break;
        connection.requested = true;
        handle(connection, std::string_view(connection.input).substr(start, newline - start));
    }
    if (connection.answered) {
        connection.input.clear();
        return;
    }
    connection.input.erase(0, start);
    if (connection.input.size() > ControlProtocol::requestLimit && !connection.closed)
        reply(connection, errorMessage("The request is longer than 64 KiB."), true);
    if (!connection.input.empty())
        connection.inputSince = Clock::now();
}

void ControlServer::reply(Connection& connection, const Json& message, bool last) {
    std::string line = ControlProtocol::line(message);
    std::lock_guard lock(mutex_);
    // Replies go ahead of queued output: the queue holds only lines after them.
    connection.sending.append(line);
    if (last) {
        connection.closeWhenDrained = true;
        connection.answered = true;
    }
}

void ControlServer::handle(Connection& connection, std::string_view text) {
    std::optional<Json> request = json::parse(text);
    if (!request || !request->is_object()) {
        reply(connection, errorMessage("The request is not a JSON object."), true);
        return;
    }
    auto version = request->find("version");
    if (version == request->end() || !version->is_number_integer() ||
        *version != ControlProtocol::version) {
        reply(connection,
              errorMessage("This scheduler speaks version " +
                           std::to_string(ControlProtocol::version) + " of the control protocol."),
              true);
        return;
    }
    auto kind = request->find("request");
    std::string name = kind != request->end() && kind->is_string() ? kind->get<std::string>() : "";

    if (name == "status")
        return status(connection);
    if (name == "subscribe") {
        {
            std::lock_guard lock(mutex_);
            subscribers_.insert(connection.id);
        }
        return reply(connection, {{"reply", "subscribe"}}, false);
    }
    if (name == "cancel") { // the run this connection started
        std::lock_guard lock(mutex_);
        if (connection.hasRun)
            connection.run.request_stop();
        return;
    }
    if (name != "run" && name != "stop" && name != "follow") {
        reply(connection, errorMessage("Unknown request \"" + name + "\"."), true);
        return;
    }
    auto jobText = request->find("job");
    std::optional<Uuid> jobID = jobText != request->end() && jobText->is_string()
                                    ? Uuid::parse(jobText->get<std::string>())
                                    : std::nullopt;
    std::optional<Job> job = jobID ? services_.jobs->job(*jobID) : std::nullopt;
    if (!job && jobID) {
        // A job saved since this scheduler read its folder.
        try {
            job = JobStore(services_.jobs->directory()).job(*jobID);
        } catch (const std::exception&) {
        }
    }
    if (!job) {
        reply(connection, errorMessage("This scheduler knows no such job."), true);
        return;
    }
    if (name == "run") {
        auto stream = request->find("stream");
        return runJob(connection, *job,
                      stream != request->end() && stream->is_boolean() && stream->get<bool>());
    }
    if (name == "follow")
        return follow(connection, *job);
    bool wasRunning = services_.scheduler->isRunning(job->id);
    services_.scheduler->cancel(job->id);
    reply(connection, {{"reply", "stop"}, {"job", job->id.text()}, {"wasRunning", wasRunning}},
          true);
}

void ControlServer::status(Connection& connection) {
    Json runs = Json::array();
    if (services_.live)
        for (const LiveRun& run : services_.live->runs())
            runs.push_back(liveRunJson(run));
    Json message = {{"reply", "status"},
                    {"pid", ::getpid()},
                    {"kind", services_.kind},
                    {"since", since_.sinceReference},
                    {"runs", std::move(runs)}};
    if (auto wake = services_.scheduler->nextWakeUp())
        message["nextWakeUp"] = wake->sinceReference;
    reply(connection, message, true);
}

void ControlServer::runJob(Connection& connection, const Job& job, bool stream) {
    std::stop_token cancel;
    {
        std::lock_guard lock(mutex_);
        if (connection.hasRun) {
            connection.sending.append(
                ControlProtocol::line(errorMessage("This connection already started a run.")));
            connection.closeWhenDrained = connection.answered = true;
            return;
        }
        connection.hasRun = true;
        cancel = connection.run.get_token();
    }
    reply(connection, {{"reply", "run"}, {"job", job.id.text()}}, false);
    SchedulerService::LineHandler onLine;
    if (stream)
        onLine = [weak = weak_from_this(), id = connection.id](std::string_view line) {
            auto self = weak.lock();
            if (!self)
                return;
            auto [channel, text] = TranscriptReader::classify(line);
            std::string event;
            ControlProtocol::appendOutputEvent(event, channel, text);
            self->deliver(id, event, true, false);
        };
    auto future = services_.scheduler->runNow(job, std::move(onLine), cancel);
    waiters_.spawn([weak = weak_from_this(), id = connection.id, job,
                    future = std::make_shared<std::future<RunRecord>>(std::move(future))] {
        RunRecord record = future->get();
        if (auto self = weak.lock())
            self->deliver(id,
                          ControlProtocol::line({{"event", "runFinished"},
                                                 {"job", job.id.text()},
                                                 {"record", record.toJson()}}),
                          false, true);
    });
}

void ControlServer::follow(Connection& connection, const Job& job) {
    std::optional<LiveRun> newest;
    if (services_.live)
        for (const LiveRun& run : services_.live->runs())
            if (run.jobID == job.id)
                newest = run;
    if (!newest) {
        reply(connection, errorMessage("\"" + job.name + "\" is not running."), true);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (connection.following) {
            connection.sending.append(
                ControlProtocol::line(errorMessage("This connection already follows a run.")));
            connection.closeWhenDrained = connection.answered = true;
            return;
        }
        connection.following = newest->runID;
        followersByRun_[newest->runID].insert(connection.id);
        ++followers_;
    }
    reply(connection, {{"reply", "follow"}, {"run", liveRunJson(*newest)}}, false);
    // Lines up to the transcript's present length come from the file, later ones live.
    std::optional<std::uint64_t> length = services_.live->flushTranscript(newest->runID);
    const auto& folder = services_.live->folder();
    {
        std::lock_guard lock(mutex_);
        std::uint64_t boundary = length.value_or(UINT64_MAX); // ended: all of it is in the file
        connection.threshold = boundary;
        auto firstLive = std::find_if(connection.unfiltered.begin(), connection.unfiltered.end(),
                                      [&](const auto& entry) { return entry.first > boundary; });
        // Anything queued after those lines (the run's end) stays.
        connection.queue.erase(0, firstLive == connection.unfiltered.end()
                                      ? connection.unfilteredEnd
                                      : firstLive->second);
        connection.unfiltered.clear();
        if (!length && !connection.followEnded) {
            // The run ended before it could be followed: its transcript is all there is.
            connection.followEnded = true;
            connection.closeWhenDrained = true;
            connection.queue.append(ControlProtocol::line(
                {{"event", "runFinished"}, {"run", newest->runID.text()}, {"job", job.id.text()}}));
        }
    }
    if (folder && length != 0)
        connection.backlog = std::make_unique<TranscriptReader>(folder->path(newest->runID),
                                                                length.value_or(UINT64_MAX));
}

void ControlServer::pump(Connection& connection) {
    while (!connection.closed) {
        if (connection.sent == connection.sending.size()) {
            connection.sending.clear();
            connection.sent = 0;
            if (connection.backlog) {
                if (!connection.backlog->read(
                        backlogChunk, [&](OutputChannel channel, std::string_view text) {
                            ControlProtocol::appendOutputEvent(connection.sending, channel, text);
                        }))
                    connection.backlog.reset();
            } else {
                bool finished;
                {
                    std::lock_guard lock(mutex_);
                    connection.sending.swap(connection.queue);
                    appendDropped(connection, connection.sending);
                    finished = connection.sending.empty() && connection.closeWhenDrained;
                }
                if (finished) {
                    close(connection);
                    return;
                }
            }
            if (connection.sending.empty() && !connection.backlog)
                return;
            continue;
        }
        ssize_t n =
            ::send(connection.fd, connection.sending.data() + connection.sent,
                   connection.sending.size() - connection.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            connection.sent += static_cast<std::size_t>(n);
            connection.lastProgress = Clock::now();
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        } else {
            close(connection);
            return;
        }
    }
}

void ControlServer::close(Connection& connection) {
    if (connection.closed)
        return;
    connection.closed = true;
    {
        std::lock_guard lock(mutex_);
        connections_.erase(connection.id);
        subscribers_.erase(connection.id);
        if (connection.following) {
            auto found = followersByRun_.find(*connection.following);
            if (found != followersByRun_.end() && found->second.erase(connection.id)) {
                --followers_;
                if (found->second.empty())
                    followersByRun_.erase(found);
            }
        }
    }
    ::close(connection.fd);
    connection.fd = -1;
    connection.backlog.reset();
    std::string().swap(connection.sending);
}

void ControlServer::runBegan(const LiveRun& run) {
    std::string line = ControlProtocol::line({{"event", "runStarted"}, {"run", liveRunJson(run)}});
    {
        std::lock_guard lock(mutex_);
        for (std::uint64_t id : subscribers_)
            if (auto found = connections_.find(id); found != connections_.end())
                enqueue(*found->second, line, false);
    }
    wake(); // the loop writes the new run's transcript out while it goes on
}

void ControlServer::outputLine(const LiveRun& run, std::uint64_t length, OutputChannel channel,
                               std::string_view text) {
    // A batch of one: `length` counts the line with its prefix and newline.
    const std::uint64_t before = length - transcriptPrefix(channel).size() - text.size() - 1;
    outputLines(run, before, channel, std::span(&text, 1));
}

void ControlServer::outputLines(const LiveRun& run, std::uint64_t lengthBefore,
                                OutputChannel channel, std::span<const std::string_view> lines) {
    if (followers_.load(std::memory_order_relaxed) == 0)
        return;
    // Encoded once for every follower, outside the lock: `ends` marks where each
    // line's event ends in `events`.
    thread_local std::string events;
    thread_local std::vector<std::size_t> ends;
    events.clear();
    ends.clear();
    for (std::string_view text : lines) {
        ControlProtocol::appendOutputEvent(events, channel, text);
        ends.push_back(events.size());
    }
    const std::size_t prefix = transcriptPrefix(channel).size();
    std::lock_guard lock(mutex_);
    auto found = followersByRun_.find(run.runID);
    if (found == followersByRun_.end())
        return;
    for (std::uint64_t id : found->second) {
        auto connection = connections_.find(id);
        if (connection == connections_.end())
            continue;
        Connection& follower = *connection->second;
        // The usual case, a follower past its backlog with room for all: one append.
        if (follower.threshold && lengthBefore >= *follower.threshold &&
            follower.queue.size() + events.size() <= limits_.queueBytes) {
            enqueue(follower, events, true);
            continue;
        }
        std::uint64_t length = lengthBefore;
        std::size_t from = 0;
        for (std::size_t i = 0; i < lines.size(); from = ends[i++]) {
            length += prefix + lines[i].size() + 1;
            if (follower.threshold && length <= *follower.threshold)
                continue; // already in the transcript it is being sent
            if (!follower.threshold)
                follower.unfiltered.emplace_back(length, follower.queue.size());
            enqueue(follower, std::string_view(events).substr(from, ends[i] - from), true);
            if (!follower.threshold)
                follower.unfilteredEnd = follower.queue.size();
        }
    }
}

void ControlServer::runEnded(const LiveRun& run, const std::optional<RunRecord>& record) {
    Json message = {{"event", "runFinished"}, {"run", run.runID.text()}, {"job", run.jobID.text()}};
    if (record)
        message["record"] = record->toJson();
    std::string line = ControlProtocol::line(message);
    std::lock_guard lock(mutex_);
    auto found = followersByRun_.find(run.runID);
    if (found == followersByRun_.end())
        return;
    for (std::uint64_t id : found->second) {
        if (auto connection = connections_.find(id); connection != connections_.end()) {
            Connection& follower = *connection->second;
            if (follower.followEnded)
                continue;
            follower.followEnded = true;
            follower.closeWhenDrained = true;
            enqueue(follower, line, false);
            wake();
        }
        --followers_;
    }
    followersByRun_.erase(found);
}

void ControlServer::runFinished(const Job& job, const RunRecord& record) {
    std::string line = ControlProtocol::line(
        {{"event", "runFinished"}, {"job", job.id.text()}, {"record", record.toJson()}});
    std::lock_guard lock(mutex_);
    for (std::uint64_t id : subscribers_)
        if (auto found = connections_.find(id); found != connections_.end())
            enqueue(*found->second, line, false);
}

void ControlServer::changed(std::string_view what) {
    std::string line = ControlProtocol::line({{"event", "changed"}, {"what", what}});
    std::lock_guard lock(mutex_);
    for (std::uint64_t id : subscribers_)
        if (auto found = connections_.find(id); found != connections_.end())
            enqueue(*found->second, line, false);
}

} // namespace marrowbell
