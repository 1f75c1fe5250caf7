#include "service/EndpointService.h"

#include "base/Utf8.h"

namespace marrowbell {

EndpointService::EndpointService(std::shared_ptr<EndpointStore> endpoints,
                                 const SecretStore& secrets)
    : endpoints_(std::move(endpoints))
    , secrets_(secrets) {}

std::string EndpointService::checkedName(std::string_view name,
                                         const std::optional<Uuid>& self) const {
    std::string trimmed(utf8::trimmed(name, true));
    if (trimmed.empty())
        throw Refusal("the name is empty");
    for (const Endpoint& existing : endpoints_->endpoints())
        if (existing.name == trimmed && existing.id != self)
            throw Refusal("an endpoint named \u201C" + trimmed + "\u201D already exists");
    return trimmed;
}

namespace {

Url checkedAddress(std::string_view typed) {
    auto accepted = Endpoint::acceptedAddress(typed);
    if (!accepted.url)
        throw EndpointService::Refusal(std::string(accepted.refusal));
    return *accepted.url;
}

} // namespace

Endpoint EndpointService::add(std::string_view name, std::string_view address,
                              EndpointKind kind) const {
    std::string checked = checkedName(name, std::nullopt);
    Endpoint endpoint{Uuid::random(), std::move(checked), checkedAddress(address), kind};
    endpoints_->save(endpoint);
    return endpoint;
}

Endpoint EndpointService::edit(const Endpoint& endpoint, const Edit& edit) const {
    Endpoint edited = endpoint;
    if (edit.address)
        edited.baseURL = checkedAddress(*edit.address);
    if (edit.name)
        edited.name = checkedName(*edit.name, endpoint.id);
    if (edit.kind)
        edited.kind = *edit.kind;
    if (edited != endpoint)
        endpoints_->save(edited);
    return edited;
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
