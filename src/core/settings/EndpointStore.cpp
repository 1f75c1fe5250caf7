#include "settings/EndpointStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>

namespace marrowbell {

EndpointStore::EndpointStore(std::filesystem::path file)
    : stored_(file, decltype(stored_)::load(file, &EndpointStore::decode), &EndpointStore::encode) {
}

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
    stored_.change([&](std::vector<Endpoint>& list) {
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const Endpoint& e) { return e.id == endpoint.id; });
        if (it != list.end())
            *it = endpoint;
        else
            list.push_back(endpoint);
    });
}

void EndpointStore::remove(const Uuid& id) {
    stored_.change([&](std::vector<Endpoint>& list) {
        std::erase_if(list, [&](const Endpoint& e) { return e.id == id; });
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

std::vector<Endpoint> EndpointStore::decode(const Json& document) {
    if (!document.is_array())
        throw DecodeError("the endpoints file is not a list");
    std::vector<Endpoint> endpoints;
    for (const Json& item : document)
        endpoints.push_back(Endpoint::fromJson(item));
    return endpoints;
}

} // namespace marrowbell
