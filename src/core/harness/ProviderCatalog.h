#pragma once

#include "harness/Discovery.h"
#include "harness/LocalEndpointStyle.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// Reads which named providers a harness has configured in its own settings file.
struct ProviderCatalog {
    // The keys of the source's `key` object, sorted; unavailable without a source or
    // when the file is unreadable, not JSON or lacks that object.
    static Discovery<std::string> providers(const std::optional<ProviderSource>& source);
    // False only when the harness routes this kind through a named provider and its
    // settings file was read and lacks that provider.
    static bool canReach(std::string_view endpointKind, const LocalEndpointStyle& style);
};

} // namespace marrowbell
