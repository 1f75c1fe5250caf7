#include "endpoint/Endpoint.h"

#include "base/Utf8.h"

namespace marrowbell {

std::string Endpoint::shortDescription() const {
    auto host = baseURL.host();
    if (!host)
        return baseURL.absoluteString;
    auto port = baseURL.port();
    return port ? *host + ":" + std::to_string(*port) : *host;
}

std::optional<Url> Endpoint::validated(std::string_view text) {
    auto url = Url::parse(text);
    if (!url)
        return std::nullopt;
    std::string scheme = url->scheme();
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    if (!url->host())
        return std::nullopt;
    // libcurl forgives one or three slashes ("http:/h", "http:///h"), reading a
    // path as the host; an address must spell its authority with exactly two.
    std::string_view rest = text.substr(scheme.size() + 1);
    if (!rest.starts_with("//") || rest.starts_with("///"))
        return std::nullopt;
    if (url->hasCredentials())
        return std::nullopt;
    return url;
}

Endpoint::TypedAddress Endpoint::acceptedAddress(std::string_view typed) {
    const std::string_view text = utf8::trimmed(typed, true);
    if (auto url = validated(text))
        return {std::move(url), {}};
    const auto parsed = Url::parse(text);
    return {std::nullopt, parsed && parsed->hasCredentials() ? endpointCredentialsMessage
                                                             : invalidEndpointAddressMessage};
}

Json Endpoint::toJson() const {
    return Json{{"id", id.text()},
                {"name", name},
                {"baseURL", baseURL.absoluteString},
                {"kind", std::string(rawValue(kind))}};
}

Endpoint Endpoint::fromJson(const Json& value) {
    const Json& object = json::object(value, "an endpoint");
    Endpoint endpoint;
    endpoint.id = json::requiredUuid(object, "id");
    endpoint.name = json::requiredString(object, "name");
    auto url = Url::parse(json::requiredString(object, "baseURL"));
    if (!url)
        throw DecodeError("\"baseURL\" is not a URL");
    endpoint.baseURL = *url;
    endpoint.kind = decodedEndpointKind(json::requiredString(object, "kind"));
    return endpoint;
}

} // namespace marrowbell
