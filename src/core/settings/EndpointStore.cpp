#include "settings/EndpointStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>

namespace marrowbell {

EndpointStore::EndpointStore(std::filesystem::path file)
    : stored_(std::move(file), "the endpoints", maxFileBytes, 0600, &EndpointStore::decode,
              &EndpointStore::encode) {}

std::filesystem::path EndpointStore::defaultFileURL() {
    return SupportDirectory::file("endpoints.json");
}

std::vector<Endpoint> EndpointStore::endpoints() const {
    return stored_.get();
}

std::optional<Endpoint> EndpointStore::endpoint(const std::optional<Uuid>& id) const {
    if (!id)
        return std::nullopt;
    for (const Endpoint& endpoint : stored_.get())
        if (endpoint.id == *id)
            return endpoint;
    return std::nullopt;
}

void EndpointStore::save(const Endpoint& endpoint) {
    bool changed = false;
    stored_.change([&](std::vector<Endpoint>& list) {
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const Endpoint& e) { return e.id == endpoint.id; });
        changed = it == list.end() || *it != endpoint;
        if (it != list.end())
            *it = endpoint;
        else
            list.push_back(endpoint);
    });
    if (changed)
        observers_.notify({{endpoint.id}, {}});
}

void EndpointStore::remove(const Uuid& id) {
    bool removed = false;
    stored_.change([&](std::vector<Endpoint>& list) {
        removed = std::erase_if(list, [&](const Endpoint& e) { return e.id == id; }) > 0;
    });
    if (removed)
        observers_.notify({{}, {id}});
}

Subscription EndpointStore::subscribe(ObserverList<IdChanges>::Observer observer,
                                      Executor executor) {
    return observers_.subscribe(std::move(observer), std::move(executor));
}

void EndpointStore::follow(FileWatcher& watcher) {
    following_ = stored_.follow(watcher, [this](const std::vector<Endpoint>& before) {
        IdChanges changes;
        const std::vector<Endpoint> after = stored_.get();
        auto in = [](const std::vector<Endpoint>& list, const Uuid& id) {
            return std::find_if(list.begin(), list.end(),
                                [&](const Endpoint& e) { return e.id == id; });
        };
        for (const Endpoint& endpoint : after)
            if (auto old = in(before, endpoint.id); old == before.end() || *old != endpoint)
                changes.saved.push_back(endpoint.id);
        for (const Endpoint& endpoint : before)
            if (in(after, endpoint.id) == after.end())
                changes.removed.push_back(endpoint.id);
        if (!changes.empty())
            observers_.notify(changes);
    });
}

std::vector<Job> EndpointStore::jobsDepending(const Uuid& id, const std::vector<Job>& jobs) {
    std::vector<Job> depending;
    for (const Job& job : jobs)
        if (job.endpointID == id)
            depending.push_back(job);
    return depending;
}

std::string EndpointStore::encode(const std::vector<Endpoint>& endpoints) {
    Json array = Json::array();
    for (const Endpoint& endpoint : endpoints)
        array.push_back(endpoint.toJson());
    return json::pretty(array);
}

Decoded<std::vector<Endpoint>> EndpointStore::decode(const Json& document) {
    if (!document.is_array())
        throw DecodeError("the endpoints file is not a list");
    Decoded<std::vector<Endpoint>> decoded;
    for (const Json& item : document) {
        try {
            decoded.value.push_back(Endpoint::fromJson(item));
        } catch (const std::exception&) {
            ++decoded.dropped; // one bad endpoint costs that endpoint only
        }
    }
    return decoded;
}

} // namespace marrowbell
