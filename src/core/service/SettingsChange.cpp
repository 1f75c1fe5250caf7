#include "service/SettingsChange.h"

#include "harness/HarnessRegistry.h"
#include "run/DurationText.h"
#include "service/NameLookup.h"
#include "settings/SettingRules.h"

#include <charconv>

namespace marrowbell {

namespace {

using Key = SettingsChange::Key;
using Refusal = SettingsChange::Refusal;

std::string inQuotes(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

std::string catchUpNames() {
    std::string names;
    const auto& choices = SettingRules::catchUpChoices;
    for (std::size_t i = 0; i < choices.size(); ++i)
        names += std::string(i == 0                    ? ""
                             : i + 1 == choices.size() ? " or "
                                                       : ", ") +
                 std::string(choices[i].name);
    return names;
}

Seconds catchUp(std::string_view value) {
    for (const auto& choice : SettingRules::catchUpChoices)
        if (choice.name == value)
            return choice.graceSeconds;
    throw Refusal("catch-up takes " + catchUpNames() + ", not " + inQuotes(value));
}

Seconds defaultTimeout(std::string_view value) {
    int minutes = 0;
    const char* end = value.data() + value.size();
    auto [stop, error] = std::from_chars(value.data(), end, minutes);
    if (error != std::errc() || stop != end || minutes < SettingRules::minTimeoutMinutes ||
        minutes > SettingRules::maxTimeoutMinutes)
        throw Refusal("default-timeout takes whole minutes from " +
                      std::to_string(SettingRules::minTimeoutMinutes) + " to " +
                      std::to_string(SettingRules::maxTimeoutMinutes) + ", not " + inQuotes(value));
    return minutes * 60.0;
}

bool notifyOnFailureOnly(std::string_view value) {
    if (value == "failures")
        return true;
    if (value == "all")
        return false;
    throw Refusal("notify takes failures or all, not " + inQuotes(value));
}

std::uint64_t transcriptLimit(std::string_view value) {
    if (auto bytes = SettingRules::transcriptLimit(value))
        return *bytes;
    throw Refusal("transcript-limit takes a size from " +
                  SettingRules::sizeText(SettingRules::minTranscriptLimitBytes) + " to " +
                  SettingRules::sizeText(SettingRules::maxTranscriptLimitBytes) +
                  ", such as 512M or 2G, not " + inQuotes(value));
}

} // namespace

const std::array<SettingsChange::KeyInfo, 6>& SettingsChange::keys() {
    static const std::array<KeyInfo, 6> all{{
        {Key::catchUp, "catch-up"},
        {Key::defaultTimeout, "default-timeout"},
        {Key::notify, "notify"},
        {Key::defaultHarness, "default-harness"},
        {Key::defaultEndpoint, "default-endpoint"},
        {Key::transcriptLimit, "transcript-limit"},
    }};
    return all;
}

std::string_view SettingsChange::name(Key key) {
    for (const KeyInfo& info : keys())
        if (info.key == key)
            return info.name;
    return {};
}

std::optional<SettingsChange::Key> SettingsChange::key(std::string_view name) {
    for (const KeyInfo& info : keys())
        if (info.name == name)
            return info.key;
    return std::nullopt;
}

SettingsChange SettingsChange::set(Key key, std::string_view value, const Context& context) {
    switch (key) {
    case Key::catchUp:
        return {key, [grace = catchUp(value)](AppSettings& s) { s.catchUpGraceSeconds = grace; }};
    case Key::defaultTimeout:
        return {key, [limit = defaultTimeout(value)](AppSettings& s) {
                    s.defaults.timeoutSeconds = limit;
                }};
    case Key::notify:
        return {key, [only = notifyOnFailureOnly(value)](AppSettings& s) {
                    s.defaults.notifyOnFailureOnly = only;
                }};
    case Key::defaultHarness: {
        for (const HarnessSpec& spec : context.registry.specs()) {
            if (spec.id != value)
                continue;
            SettingsChange change(key, [id = spec.id](AppSettings& s) { s.defaultHarnessID = id; });
            if (!context.registry.isInstalled(spec, context.searchPaths))
                change.note_ = spec.displayName + " was not found on this computer; new jobs "
                                                  "start with it all the same";
            return change;
        }
        throw Refusal(
            "no harness called " + inQuotes(value) +
            " is described in the manifest; known harnesses: " + context.registry.identifierList());
    }
    case Key::defaultEndpoint: {
        try {
            const Uuid id = NameLookup::endpoint(context.endpoints, value).id;
            return {key, [id](AppSettings& s) { s.defaultEndpointID = id; }};
        } catch (const NameLookup::Error& error) {
            throw Refusal(error.what());
        }
    }
    case Key::transcriptLimit:
        return {key, [bytes = transcriptLimit(value)](AppSettings& s) {
                    s.transcriptLimitBytes = bytes;
                }};
    }
    throw Refusal("no such setting");
}

SettingsChange SettingsChange::reset(Key key) {
    return {key, [key](AppSettings& settings) {
                const AppSettings defaults;
                switch (key) {
                case Key::catchUp:
                    settings.catchUpGraceSeconds = defaults.catchUpGraceSeconds;
                    break;
                case Key::defaultTimeout:
                    settings.defaults.timeoutSeconds = defaults.defaults.timeoutSeconds;
                    break;
                case Key::notify:
                    settings.defaults.notifyOnFailureOnly = defaults.defaults.notifyOnFailureOnly;
                    break;
                case Key::defaultHarness:
                    settings.defaultHarnessID = defaults.defaultHarnessID;
                    break;
                case Key::defaultEndpoint:
                    settings.defaultEndpointID = defaults.defaultEndpointID;
                    break;
                case Key::transcriptLimit:
                    settings.transcriptLimitBytes = defaults.transcriptLimitBytes;
                    break;
                }
            }};
}

std::string SettingsChange::valueText(Key key, const AppSettings& settings,
                                      const std::vector<Endpoint>& endpoints) {
    switch (key) {
    case Key::catchUp:
        if (auto choice = SettingRules::catchUpChoice(settings.catchUpGraceSeconds))
            return std::string(choice->name) + " (" + std::string(choice->title) + ")";
        return "up to " + readable(settings.catchUpGraceSeconds) + " late";
    case Key::defaultTimeout: {
        const Seconds limit = settings.defaults.timeoutSeconds;
        const int minutes = SettingRules::timeoutMinutes(limit);
        if (minutes * 60.0 == limit)
            return std::to_string(minutes) + " (" + SettingRules::timeoutLabel(minutes) + ")";
        return readable(limit);
    }
    case Key::notify:
        return settings.defaults.notifyOnFailureOnly ? "failures (only when a run does not succeed)"
                                                     : "all (after every run)";
    case Key::defaultHarness:
        return settings.defaultHarnessID.value_or("none");
    case Key::defaultEndpoint: {
        if (!settings.defaultEndpointID)
            return "none";
        for (const Endpoint& endpoint : endpoints)
            if (endpoint.id == *settings.defaultEndpointID)
                return endpoint.name + " (" + endpoint.id.text() + ")";
        return settings.defaultEndpointID->text() + " (no such endpoint)";
    }
    case Key::transcriptLimit:
        return SettingRules::sizeText(settings.transcriptLimitBytes);
    }
    return {};
}

} // namespace marrowbell
