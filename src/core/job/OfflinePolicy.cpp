#include "job/OfflinePolicy.h"

namespace marrowbell {

std::string_view rawValue(OfflinePolicy policy) {
    return policy == OfflinePolicy::failAndNotify ? "failAndNotify" : "skipAndNotify";
}

std::optional<OfflinePolicy> offlinePolicyFromRaw(std::string_view raw) {
    for (OfflinePolicy policy : allOfflinePolicies)
        if (rawValue(policy) == raw)
            return policy;
    return std::nullopt;
}

std::string_view plainTitle(OfflinePolicy policy) {
    return policy == OfflinePolicy::failAndNotify ? "Record it as a failure"
                                                  : "Skip this run and notify me";
}

} // namespace marrowbell
