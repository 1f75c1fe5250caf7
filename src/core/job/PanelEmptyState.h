#pragma once

#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// Why the job list is empty: no agent tool is installed, or no job exists yet.
struct PanelEmptyState {
    enum class Kind { noHarness, noJobs };

    Kind kind = Kind::noJobs;
    // For noHarness: display names of the harnesses Marrowbell knows how to drive.
    std::vector<std::string> installable;

    // None when there are jobs; noJobs when some harness is installed; otherwise
    // noHarness listing every known harness's display name, in manifest order.
    static std::optional<PanelEmptyState> state(std::size_t jobCount,
                                                const std::vector<std::string>& installed,
                                                const std::vector<std::string>& knownDisplayNames);

    // The message in the user's locale; `locale` (an ICU locale name such as
    // "en_US") overrides it.
    std::string message(const char* locale = nullptr) const;

    friend bool operator==(const PanelEmptyState&, const PanelEmptyState&) = default;
};

// The names as a wide "or" list in the locale ("A or B", "A, B, or C" in English).
std::string orList(const std::vector<std::string>& items, const char* locale = nullptr);

} // namespace marrowbell
