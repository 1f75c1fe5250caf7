#include "model/SchedulerLink.h"

#include "control/ControlClient.h"
#include "control/ControlProtocol.h"

#include <sys/socket.h>

namespace marrowbell::app {

namespace {

constexpr std::chrono::seconds answerTimeout{5};
// A subscription hears nothing between events; this only bounds each wait.
constexpr std::chrono::hours quietTimeout{1};

std::optional<Uuid> uuidIn(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return Uuid::parse(found->get<std::string>());
}

std::string textIn(const Json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<ControlClient> connectQuietly() {
    try {
        return ControlClient::connect();
    } catch (const std::exception&) {
        return std::nullopt; // no private folder for the socket: nobody to reach
    }
}

// One request on a connection of its own; the answer, or none when nobody answers.
std::optional<Json> ask(Json request) {
    std::optional<ControlClient> client = connectQuietly();
    if (!client)
        return std::nullopt;
    try {
        client->send(std::move(request));
        return client->expect(answerTimeout);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

SchedulerLink::SchedulerLink(Events events)
    : events_(std::move(events))
    , thread_([this] { run(); }) {}

SchedulerLink::~SchedulerLink() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR); // ends the wait for the next event
    }
    wake_.notify_all();
    thread_.join();
}

bool SchedulerLink::requestRun(const Uuid& job) {
    return ask(Json{{"request", "run"}, {"job", job.text()}, {"stream", false}}).has_value();
}

bool SchedulerLink::requestStop(const Uuid& job) {
    return ask(Json{{"request", "stop"}, {"job", job.text()}}).has_value();
}

void SchedulerLink::run() {
    for (;;) {
        follow();
        if (events_.lost)
            events_.lost();
        if (!pause(retryDelay))
            return;
    }
}

void SchedulerLink::follow() {
    std::optional<ControlClient> client = connectQuietly();
    if (!client)
        return;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        fd_ = client->fd();
    }
    try {
        client->send(Json{{"request", "subscribe"}});
        client->expect(answerTimeout);
        // Subscribed first, so no run that starts meanwhile is missed.
        std::unordered_map<Uuid, std::string> running;
        if (std::optional<Json> status = ask(Json{{"request", "status"}})) {
            auto runs = status->find("runs");
            if (runs != status->end() && runs->is_array())
                for (const Json& run : *runs)
                    if (auto job = uuidIn(run, "job"))
                        running[*job] = textIn(run, "jobName");
        }
        if (events_.connected)
            events_.connected(running);
        for (;;) {
            Json message;
            ControlClient::Read read = client->read(message, quietTimeout);
            if (read == ControlClient::Read::closed)
                break;
            if (read == ControlClient::Read::timedOut)
                continue;
            const std::string event = textIn(message, "event");
            if (event == "runStarted") {
                auto run = message.find("run");
                if (run != message.end() && run->is_object())
                    if (auto job = uuidIn(*run, "job"); job && events_.runStarted)
                        events_.runStarted(*job, textIn(*run, "jobName"));
            } else if (event == "runFinished") {
                auto job = uuidIn(message, "job");
                auto record = message.find("record");
                if (job && record != message.end() && events_.runFinished) {
                    try {
                        events_.runFinished(*job, RunRecord::fromJson(*record));
                    } catch (const DecodeError&) {
                    }
                }
            } else if (event == "changed" && events_.changed) {
                events_.changed();
            }
        }
    } catch (const std::exception&) {
        // The scheduler went away or said something unreadable: as good as gone.
    }
    std::lock_guard lock(mutex_);
    fd_ = -1;
}

bool SchedulerLink::pause(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, delay, [this] { return stopping_; });
}

} // namespace marrowbell::app
