#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace marrowbell {

// What a run does when the job's endpoint cannot be reached or refuses the key;
// stored by its raw value ("skipAndNotify").
enum class OfflinePolicy { skipAndNotify, failAndNotify };

// In the order the choices are offered.
inline constexpr std::array<OfflinePolicy, 2> allOfflinePolicies{OfflinePolicy::skipAndNotify,
                                                                 OfflinePolicy::failAndNotify};

std::string_view rawValue(OfflinePolicy policy);
std::optional<OfflinePolicy> offlinePolicyFromRaw(std::string_view raw);
// "Skip this run and notify me", "Record it as a failure".
std::string_view plainTitle(OfflinePolicy policy);

} // namespace marrowbell
