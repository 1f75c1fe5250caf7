#include "service/EndpointService.h"

#include "base/Utf8.h"

namespace marrowbell {

EndpointService::EndpointService(std::shared_ptr<EndpointStore> endpoints,
                                 const SecretStore& secrets)
    : endpoints_(std::move(endpoints))
    , secrets_(secrets) {}

Endpoint EndpointService::add(std::string_view name, std::string_view address,
                              EndpointKind kind) const {
    const std::string trimmedName(utf8::trimmed(name, true));
    if (trimmedName.empty())
        throw Refusal("the name is empty");
    const auto url = Endpoint::validated(utf8::trimmed(address, true));
    if (!url) {
        const auto typed = Url::parse(utf8::trimmed(address, true));
        throw Refusal(std::string(typed && typed->hasCredentials()
                                      ? endpointCredentialsMessage
                                      : invalidEndpointAddressMessage));
    }
    for (const Endpoint& existing : endpoints_->endpoints())
        if (existing.name == trimmedName)
            throw Refusal("an endpoint named \u201C" + trimmedName + "\u201D already exists");
    Endpoint endpoint{Uuid::random(), trimmedName, *url, kind};
    endpoints_->save(endpoint);
    return endpoint;
}

std::vector<Job> EndpointService::remove(const Endpoint& endpoint,
                                         const std::vector<Job>& jobs) const {
    secrets_.remove(endpoint.id);
    endpoints_->remove(endpoint.id);
    return EndpointStore::jobsDepending(endpoint.id, jobs);
}

void EndpointService::setKey(const Endpoint& endpoint, std::string_view key) const {
    secrets_.save(key, endpoint.id);
}

void EndpointService::removeKey(const Endpoint& endpoint) const {
    secrets_.remove(endpoint.id);
}

} // namespace marrowbell
