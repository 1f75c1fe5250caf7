#include "harness/HarnessManifest.h"

#include "harness/ManifestDecoding.h"

namespace marrowbell {

static std::vector<Json> objects(const Json& document, const char* key) {
    if (!json::has(document, key))
        return {};
    const Json& list = document.at(key);
    if (!list.is_array())
        throw DecodeError(std::string("\"") + key + "\" is not a list");
    return {list.begin(), list.end()};
}

HarnessManifest HarnessManifest::decode(const Json& document) {
    json::object(document, "The harness manifest");
    HarnessManifest manifest;
    if (!json::has(document, "harnesses"))
        throw DecodeError("\"harnesses\" is missing");
    for (const Json& harness : objects(document, "harnesses"))
        manifest.harnesses.push_back(HarnessSpec::decode(harness));
    manifest.searchPaths =
        json::optionalStrings(document, "searchPaths").value_or(std::vector<std::string>{});
    for (const Json& shim : objects(document, "shimManagers")) {
        json::object(shim, "a shim manager");
        manifest.shimManagers.push_back({json::requiredString(shim, "pathMarker"),
                                         json::requiredString(shim, "resolver"),
                                         manifest::requiredStrings(shim, "arguments")});
    }
    for (const Json& suggestion : objects(document, "suggestedEndpoints")) {
        json::object(suggestion, "a suggested endpoint");
        SuggestedEndpoint endpoint{json::requiredString(suggestion, "name"),
                                   json::requiredString(suggestion, "baseURL"),
                                   EndpointKind::openAICompatible};
        // Lenient like stored endpoints: an unknown kind is an OpenAI-compatible server.
        endpoint.kind = decodedEndpointKind(json::requiredString(suggestion, "kind"));
        manifest.suggestedEndpoints.push_back(endpoint);
    }
    if (json::has(document, "defaults")) {
        const Json& defaults = manifest::requiredObject(document, "defaults");
        manifest.defaults = {json::requiredString(defaults, "schedule"),
                             manifest::requiredStrings(defaults, "nonChatModelMarkers")};
    }
    return manifest;
}

} // namespace marrowbell
