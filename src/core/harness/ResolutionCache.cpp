#include "harness/ResolutionCache.h"

namespace marrowbell {

ResolutionCache& ResolutionCache::shared() {
    static ResolutionCache cache;
    return cache;
}

std::optional<std::string> ResolutionCache::value(const std::string& key) const {
    std::lock_guard guard(lock_);
    auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

void ResolutionCache::store(const std::string& key, const std::string& value) {
    std::lock_guard guard(lock_);
    values_[key] = value;
}

} // namespace marrowbell
