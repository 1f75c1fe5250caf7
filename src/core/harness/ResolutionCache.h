#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace marrowbell {

// Resolved alias details for the life of the process, keyed "{executable}|{alias}".
class ResolutionCache {
public:
    static ResolutionCache& shared();
    std::optional<std::string> value(const std::string& key) const;
    void store(const std::string& key, const std::string& value);

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> values_;
};

} // namespace marrowbell
