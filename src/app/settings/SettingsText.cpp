#include "settings/SettingsText.h"

#include "run/DurationText.h"

#include <variant>

namespace marrowbell::app::SettingsText {
namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

} // namespace

std::string modelsLine(const std::vector<std::string>& models) {
    constexpr std::size_t shown = 4;
    if (models.size() <= shown)
        return joined(models);
    return joined({models.begin(), models.begin() + shown}) + ", +" +
           std::to_string(models.size() - shown) + " more";
}

std::string usedBy(const std::vector<Job>& jobs) {
    std::vector<std::string> names;
    for (const Job& job : jobs)
        names.push_back(job.name);
    return names.empty() ? "no jobs" : joined(names);
}

std::string apiKeyHint(SecretStore::Backend backend, const std::vector<HarnessSpec>& harnesses) {
    std::string hint = backend == SecretStore::Backend::secretService
                           ? "Stored in your keyring, never in the endpoint file."
                           : "Stored in a private file (secrets.json, readable only by you), "
                             "never in the endpoint file.";
    std::vector<std::string> names;
    for (const HarnessSpec& spec : harnesses)
        if (std::holds_alternative<LocalEndpointStyle::Unsupported>(spec.localEndpoint.style))
            names.push_back(spec.displayName);
    if (!names.empty())
        hint += " " + joined(names) +
                " cannot be pointed at an endpoint for a single run, so a job on it will not "
                "use this.";
    return hint;
}

std::string otherCatchUpTitle(Seconds graceSeconds) {
    return "Up to " + readable(graceSeconds) + " late";
}

} // namespace marrowbell::app::SettingsText
