#include "harness/ProviderCatalog.h"

#include "base/Files.h"
#include "base/Json.h"
#include "harness/HomeFolder.h"

#include <algorithm>

namespace marrowbell {

Discovery<std::string> ProviderCatalog::providers(const std::optional<ProviderSource>& source) {
    if (!source)
        return Discovery<std::string>::unavailable();
    auto bytes = files::read(expandingTilde(source->path));
    if (!bytes)
        return Discovery<std::string>::unavailable();
    auto document = json::parse(*bytes);
    if (!document || !document->is_object())
        return Discovery<std::string>::unavailable();
    auto member = document->find(source->key);
    if (member == document->end() || !member->is_object())
        return Discovery<std::string>::unavailable();
    std::vector<std::string> names;
    for (const auto& [name, value] : member->items())
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return Discovery<std::string>::answered(std::move(names));
}

bool ProviderCatalog::canReach(std::string_view endpointKind, const LocalEndpointStyle& style) {
    const auto* prefix = std::get_if<LocalEndpointStyle::ModelPrefix>(&style.style);
    if (!prefix || prefix->prefixes.empty())
        return true;
    auto entry = prefix->prefixes.find(std::string(endpointKind));
    if (entry == prefix->prefixes.end())
        return true;
    Discovery<std::string> configured = providers(prefix->providers);
    if (!configured.isAnswered())
        return true;
    const auto& names = configured.items();
    return std::find(names.begin(), names.end(), entry->second) != names.end();
}

} // namespace marrowbell
