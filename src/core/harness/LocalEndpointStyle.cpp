#include "harness/LocalEndpointStyle.h"

#include "harness/ManifestDecoding.h"

namespace marrowbell {

LocalEndpointStyle LocalEndpointStyle::decode(const Json& value) {
    json::object(value, "\"localEndpoint\"");
    std::string style = json::requiredString(value, "style");
    if (style == "environment")
        return {Environment{json::requiredString(value, "variable")}};
    if (style == "localProvider")
        return {LocalProvider{manifest::requiredStrings(value, "flags"),
                              json::requiredString(value, "providerFlag"),
                              manifest::stringMap(manifest::requiredObject(value, "providerNames"),
                                                  "providerNames")}};
    if (style == "modelPrefix") {
        ModelPrefix prefix{
            manifest::stringMap(manifest::requiredObject(value, "prefixes"), "prefixes"),
            std::nullopt};
        if (json::has(value, "providers")) {
            const Json& providers = manifest::requiredObject(value, "providers");
            prefix.providers = ProviderSource{json::requiredString(providers, "path"),
                                              json::requiredString(providers, "key")};
        }
        return {prefix};
    }
    if (style == "configuration") {
        Configuration configuration;
        std::string delivery = json::requiredString(value, "delivery");
        if (delivery == "overrides") {
            configuration.delivery = Configuration::Delivery::overrides;
            configuration.flag = json::requiredString(value, "flag");
        } else if (delivery == "environment" || delivery == "file") {
            configuration.delivery = delivery == "file" ? Configuration::Delivery::file
                                                        : Configuration::Delivery::environment;
            configuration.variable = json::requiredString(value, "variable");
            if (configuration.delivery == Configuration::Delivery::file)
                configuration.fileName = json::requiredString(value, "fileName");
        } else {
            throw DecodeError("\"delivery\" has an unknown value \"" + delivery + "\"");
        }
        configuration.model = json::requiredString(value, "model");
        for (const auto& [protocol, document] :
             manifest::requiredObject(value, "content").items()) {
            if (!document.is_object())
                throw DecodeError("\"content\" is not an object of objects");
            configuration.content[protocol] = document;
        }
        return {configuration};
    }
    return {Unsupported{}};
}

namespace {

constexpr const char* placeholderNames[] = {"baseURL", "endpointName", "model", "keyVariable"};

// The text with each placeholder replaced; none when it names one without a value.
std::optional<std::string> substituted(std::string text,
                                       const std::map<std::string, std::string>& values) {
    for (const char* name : placeholderNames) {
        std::string token = std::string("{") + name + "}";
        if (text.find(token) == std::string::npos)
            continue;
        auto value = values.find(name);
        if (value == values.end())
            return std::nullopt;
        for (std::size_t at = text.find(token); at != std::string::npos;
             at = text.find(token, at + value->second.size()))
            text.replace(at, token.size(), value->second);
    }
    return text;
}

std::optional<Json> renderedValue(const Json& value,
                                  const std::map<std::string, std::string>& values) {
    if (value.is_string())
        return substituted(value.get<std::string>(), values);
    if (value.is_array()) {
        Json out = Json::array();
        for (const Json& item : value)
            if (auto rendered = renderedValue(item, values))
                out.push_back(*rendered);
        return out;
    }
    if (value.is_object()) {
        Json out = Json::object();
        for (const auto& [key, item] : value.items()) {
            auto name = substituted(key, values);
            auto rendered = renderedValue(item, values);
            if (name && rendered)
                out[*name] = *rendered;
        }
        return out;
    }
    return value;
}

void flatten(const Json& value, const std::string& path, std::vector<std::string>& out) {
    if (value.is_object() && !value.empty()) {
        for (const auto& [key, item] : value.items())
            flatten(item, path.empty() ? key : path + "." + key, out);
        return;
    }
    out.push_back(path + "=" + value.dump());
}

} // namespace

std::optional<Json> LocalEndpointStyle::Configuration::rendered(
    const std::string& protocol, const std::map<std::string, std::string>& values) const {
    auto document = content.find(protocol);
    if (document == content.end())
        return std::nullopt;
    return renderedValue(document->second, values);
}

std::vector<std::string> LocalEndpointStyle::Configuration::overrides(const Json& document) {
    std::vector<std::string> out;
    flatten(document, "", out);
    return out;
}

} // namespace marrowbell
