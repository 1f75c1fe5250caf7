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
    return {Unsupported{}};
}

} // namespace marrowbell
