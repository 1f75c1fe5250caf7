#include "harness/EndpointCompatibility.h"

namespace marrowbell {

std::optional<std::string> EndpointCompatibility::reason(const std::string& harness,
                                                         const std::string& endpoint) const {
    if (const auto* wrong = std::get_if<WrongProtocol>(&value))
        return harness + " speaks the " + std::string(displayName(wrong->harness)) +
               " protocol and " + endpoint + " answers in " +
               std::string(displayName(wrong->endpoint)) + ".";
    if (const auto* missing = std::get_if<ProviderMissing>(&value))
        return harness + " reaches " + endpoint + " through its provider \"" + missing->provider +
               "\", which " + missing->configuredIn + " does not define.";
    if (const auto* none = std::get_if<NoPerRunWay>(&value))
        return harness + " cannot be pointed at an " + std::string(displayName(none->kind)) +
               " endpoint for a single run, so a job would use whatever " + harness +
               "'s own settings name instead of " + endpoint + ".";
    return std::nullopt;
}

} // namespace marrowbell
